// A QUERY between two gates in one process (caller, A's send thread, B's receive thread where
// the element answers, B's send thread, A's receive thread, back to the caller), against a
// ping-pong of two Win32 events between two threads.
#include "AnsweringElement.h"
#include "BenchReport.h"
#include "BlockChannel.h"
#include "CJString.h"
#include "CMessageGate.h"
#include "CMethodCallMsgDecoder.h"
#include "CMethodCallMsgEncoder.h"
#include "CProxyElement.h"
#include "CTrace.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const int WARM_UP = 200;
const int ROUNDS = 5;
const int SAMPLES_PER_ROUND = 600;
const char ELEMENT_ID[] = "4A3F1C20-0B6E-11d4-8727-0000F460D121";

class Terminal {
public:
    Terminal(const std::string& terminalId, const std::string& gateName, IInputStream& in, IOutputStream& out)
        : decoder_(&in), encoder_(&out), gate_(new CMessageGate(&decoder_, &encoder_, nullptr, nullptr, gateName)),
          proxy_(new CProxyElement(gate_.get(), terminalId))
    {
        gate_->addListener(CProxyElement::getProxyId(), proxy_.get());
    }
    // The input must have ended.
    ~Terminal()
    {
        gate_->stop();
        gate_->removeListener(CProxyElement::getProxyId());
    }
    CMessageGate& gate() { return *gate_; }
    CProxyElement& proxy() { return *proxy_; }

private:
    CMethodCallMsgDecoder decoder_;
    CMethodCallMsgEncoder encoder_;
    std::unique_ptr<CMessageGate> gate_;
    std::unique_ptr<CProxyElement> proxy_;
};

struct PingPong {
    HANDLE ping = CreateEventA(NULL, FALSE, FALSE, NULL);
    HANDLE pong = CreateEventA(NULL, FALSE, FALSE, NULL);
    volatile bool stop = false;
    HANDLE thread = NULL;

    static DWORD WINAPI answer(void* self)
    {
        PingPong* p = static_cast<PingPong*>(self);
        for (;;) {
            WaitForSingleObject(p->ping, INFINITE);
            if (p->stop)
                return 0;
            SetEvent(p->pong);
        }
    }
    PingPong() { thread = CreateThread(NULL, 0, answer, this, 0, NULL); }
    ~PingPong()
    {
        stop = true;
        SetEvent(ping);
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        CloseHandle(ping);
        CloseHandle(pong);
    }
    void roundTrip()
    {
        SetEvent(ping);
        WaitForSingleObject(pong, INFINITE);
    }
};

bool query(CProxyElement& proxy)
{
    ISerializable* value = proxy.sendQuery("TB", ELEMENT_ID, "echo", new CJString("ping"));
    bool ok = value != nullptr;
    delete value;
    return ok;
}

// Microseconds each call took.
template <class Call>
void sample(std::vector<double>& into, int count, Call call)
{
    for (int i = 0; i < count; ++i) {
        double start = BenchReport::now();
        call();
        into.push_back((BenchReport::now() - start) * 1e6);
    }
}

} // namespace

int main()
{
    CTrace::setDumpOff();
    BlockChannel toA;
    BlockChannel toB;
    std::vector<double> queries;
    std::vector<double> pingPongs;
    {
        Terminal a("TA", "LC-MSG_GATE", toA, toB);
        Terminal b("TB", "RM-MSG_GATE", toB, toA);
        AnsweringElement element(b.proxy());
        b.gate().addListener(ELEMENT_ID, &element);
        PingPong pingPong;

        bool failed = false;
        for (int i = 0; i < WARM_UP; ++i) {
            failed |= !query(a.proxy());
            pingPong.roundTrip();
        }
        for (int round = 0; round < ROUNDS; ++round) {
            sample(queries, SAMPLES_PER_ROUND, [&] { failed |= !query(a.proxy()); });
            sample(pingPongs, SAMPLES_PER_ROUND, [&] { pingPong.roundTrip(); });
        }
        if (failed)
            fprintf(stderr, "query_bench: a query came back without its value\n");

        b.gate().removeListener(ELEMENT_ID);
        toA.close();
        toB.close();
    }
    BenchReport::printTime("QUERY between two gates in one process, median", BenchReport::median(queries),
                           "Win32 event ping-pong between two threads, median", BenchReport::median(pingPongs), "us");
    return 0;
}
