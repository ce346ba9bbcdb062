// Encode and decode of one message through the real encoder and decoder, against copying the
// same number of bytes twice (the two copies a block must go through: into the send buffer
// and out of the received block).
#include "BenchReport.h"
#include "CJString.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "CProxyElement.h"
#include "CTrace.h"
#include "LoopbackStream.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

namespace {

const int ROUNDS = 5;
const double ROUND_SECONDS = 0.3;
const unsigned LARGE_ARGUMENT = 1u << 20;
const char ELEMENT_ID[] = "4A3F1C20-0B6E-11d4-8727-0000F460D121";
// Where the trace's console output goes while the dump is on: a file in the working folder, so
// the lines are really written and the benchmark's own report stays readable.
const char DUMP_FILE[] = "trace-dump.log";

struct Codec {
    LoopbackStream stream;
    CMethodCallMsgEncoder encoder{&stream};
    CMethodCallMsgDecoder decoder{&stream};

    void roundTrip(IMessage* message)
    {
        encoder.write(message);
        IMessage* decoded = decoder.read();
        if (decoded == nullptr) {
            fprintf(stderr, "codec_bench: the message did not come back\n");
            exit(1);
        }
        IMessage::release(decoded);
    }
};

struct Copier {
    std::vector<unsigned char> source;
    std::vector<unsigned char> first;
    std::vector<unsigned char> second;

    explicit Copier(size_t size) : source(size, 0x5A), first(size, 0), second(size, 0) {}
    void copyTwice()
    {
        memcpy(first.data(), source.data(), source.size());
        memcpy(second.data(), first.data(), first.size());
        BenchReport::keep(second.data());
    }
};

// Median rates of the figure and the reference over rounds that alternate between them.
void measure(const char* name, const char* reference, Codec& codec, IMessage* message, int batch,
             const std::function<void()>& beforeRound = nullptr, const std::function<void()>& afterRound = nullptr)
{
    codec.roundTrip(message); // the send buffer grows once, before anything is timed
    Copier copier(static_cast<size_t>(codec.stream.lastSize()));
    std::vector<double> figures;
    std::vector<double> references;
    for (int round = 0; round < ROUNDS; ++round) {
        if (beforeRound)
            beforeRound();
        figures.push_back(BenchReport::rate([&] { codec.roundTrip(message); }, ROUND_SECONDS, batch));
        if (afterRound)
            afterRound();
        references.push_back(BenchReport::rate([&] { copier.copyTwice(); }, ROUND_SECONDS, batch));
    }
    BenchReport::printRate(name, BenchReport::median(figures), reference, BenchReport::median(references), "msg/s");
}

} // namespace

int main()
{
    CTrace::setDumpOff();
    Codec codec;

    CMethodCallMessage* notice = CMethodCallMessage::createRemoteCall("TB", ELEMENT_ID, "TA", CProxyElement::PROXY_ID,
                                                                      "setCaption", new CJString("hello"));
    notice->setModifier(CMethodCallMessage::NOTICE);
    codec.encoder.write(notice);
    char blockName[64];
    snprintf(blockName, sizeof(blockName), "memcpy of the %d-byte block twice", codec.stream.lastSize());

    measure("encode+decode small NOTICE, trace silent", blockName, codec, notice, 256);

    std::ofstream dump;
    std::streambuf* console = std::cout.rdbuf();
    measure("encode+decode small NOTICE, trace dump on", blockName, codec, notice, 64,
            [&] {
                dump.open(DUMP_FILE, std::ios::out | std::ios::trunc);
                std::cout.rdbuf(dump.rdbuf());
                CTrace::setDumpOn();
            },
            [&] {
                CTrace::setDumpOff();
                std::cout.rdbuf(console);
                dump.close();
            });

    std::vector<unsigned char> bytes(LARGE_ARGUMENT, 0xA5);
    CMethodCallMessage* large = CMethodCallMessage::createRemoteCall("TB", ELEMENT_ID, "TA", CProxyElement::PROXY_ID,
                                                                     "putPicture", LARGE_ARGUMENT, bytes.data());
    large->setModifier(CMethodCallMessage::NOTICE);
    measure("encode+decode call with a 1 MiB buffer, trace silent", "memcpy of 1 MiB twice", codec, large, 1);

    IMessage::release(notice);
    IMessage::release(large);
    return 0;
}
