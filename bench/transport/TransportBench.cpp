// The session handle over our DirectPlay between two hosts of the test LAN, next to raw Winsock
// TCP between the same two hosts in the same run. lan_bench.sh starts one of these per host:
//
//   transport_bench host DIR          host the session ("LC") with an answering element, and
//                                     the raw TCP side; ends when the joined terminal leaves
//   transport_bench join DIR IP       join it ("RM"), measure both, print RESULT lines
//
// The joined terminal's proxy asks the element on the host for an integer (QUERY and its
// reply), and sends it a notice of 16 MiB; raw TCP moves blocks of the same sizes (TCP_NODELAY
// on both sides). The two find each other through DIR (the session's GUID), as the test LAN's
// peers do; each is started in a folder of its own, where its trace file goes.
#include "CElement.h"
#include "CInteger.h"
#include "CJException.h"
#include "CLocalMethod.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgEncoder.h"
#include "CNetwork.h"
#include "CProxyElement.h"
#include "CThread.h"
#include "CTrace.h"
#include "IOutputStream.h"
#include "ISessionHandleEventListener.h"
#include "PeerIo.h"
#include "RawTcp.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const char APPLICATION[] = "5E0B7C21-9A44-4F6D-8B3E-2C71D0A9F635";
const char HOST_ID[] = "H";
const char JOINED_ID[] = "C";
const char ANSWER_ID[] = "ANSWER";
constexpr WORD kRawPort = 47710;
constexpr int kWarmUp = 100;          // calls of each kind before anything is measured
constexpr int kRounds = 5;            // rounds alternate between the two, so both see the
constexpr int kCallsPerRound = 200;   // same state of the machine: 1000 measured calls each
constexpr int kBulkRounds = 3;
constexpr unsigned kBulkBytes = 16u * 1024 * 1024;
constexpr DWORD kWait = 60000;        // ms for the other host to reach the next step
constexpr DWORD kRunLimit = 300000;   // ms before the program gives up as a whole
// Raw TCP commands: op, then two arguments.
constexpr DWORD kRawPing = 1, kRawBulk = 2, kRawQuit = 3;
constexpr BYTE kDone = 'D';

double g_ticksPerUs = 0;

double nowUs()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / g_ticksPerUs;
}

void result(const char* name, double value)
{
    std::printf("RESULT %s %.1f\n", name, value);
    std::fflush(stdout);
}

int fail(const std::string& what)
{
    std::printf("FAIL %s\n", what.c_str());
    std::fflush(stdout);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// The encoded sizes that the raw reference moves.

class Capture : public IOutputStream {
public:
    void write(const unsigned char*, int size) override { bytes = static_cast<size_t>(size); }
    size_t bytes = 0;
};

size_t encodedSize(CMethodCallMessage* message)
{
    Capture capture;
    CMethodCallMsgEncoder encoder(&capture);
    encoder.write(message);
    IMessage::release(message);
    return capture.bytes;
}

struct Sizes {
    size_t query, reply, notice;
};

// As the proxy numbers a query and the host's proxy answers it.
Sizes messageSizes(const std::string& question, int answer)
{
    Sizes sizes;
    CMethodCallMessage* query = CMethodCallMessage::createRemoteCall(
        HOST_ID, ANSWER_ID, JOINED_ID, CProxyElement::getProxyId(), "QUE_next",
        static_cast<unsigned>(question.size()), question.data());
    query->setModifier(CMethodCallMessage::QUERY);
    query->setSerialNum(1);
    sizes.query = encodedSize(query);
    CMethodCallMessage* reply = CMethodCallMessage::createReturnValue(
        JOINED_ID, CProxyElement::getProxyId(), HOST_ID, ANSWER_ID, new CInteger(answer));
    reply->setModifier(CMethodCallMessage::REPLY);
    reply->setSerialNum(1);
    sizes.reply = encodedSize(reply);
    std::vector<unsigned char> bulk(kBulkBytes, 0x5A);
    sizes.notice = encodedSize(CMethodCallMessage::createRemoteCall(HOST_ID, ANSWER_ID, JOINED_ID, "ASKER", "INS_bulk",
                                                                     kBulkBytes, bulk.data()));
    return sizes;
}

// ---------------------------------------------------------------------------------------------
// Raw TCP.

// ping: argument 1 the count, argument 2 the question's size in the low and the answer's in
// the high 16 bits; bulk: argument 1 the byte count, answered by one byte.
void rawServe(SOCKET listener)
{
    SOCKET s = accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return;
    RawTcp::noDelay(s);
    std::vector<BYTE> buffer(1024 * 1024);
    for (bool on = true; on;) {
        DWORD command[3];
        if (!RawTcp::recvAll(s, command, sizeof command))
            break;
        if (command[0] == kRawPing) {
            size_t question = command[2] & 0xFFFF, answer = command[2] >> 16;
            for (DWORD i = 0; on && i < command[1]; ++i)
                on = RawTcp::recvAll(s, buffer.data(), question) && RawTcp::sendAll(s, buffer.data(), answer);
        } else if (command[0] == kRawBulk) {
            size_t left = command[1];
            while (on && left > 0) {
                int n = recv(s, reinterpret_cast<char*>(buffer.data()),
                             static_cast<int>(std::min<size_t>(left, buffer.size())), 0);
                on = n > 0;
                left -= on ? static_cast<size_t>(n) : 0;
            }
            BYTE done = kDone;
            on = on && RawTcp::sendAll(s, &done, 1);
        } else {
            on = false;
        }
    }
    closesocket(s);
}

bool rawRoundTrips(SOCKET s, const Sizes& sizes, int count, std::vector<double>* samples)
{
    DWORD command[3] = {kRawPing, static_cast<DWORD>(count), static_cast<DWORD>(sizes.query | sizes.reply << 16)};
    if (!RawTcp::sendAll(s, command, sizeof command))
        return false;
    std::vector<BYTE> question(sizes.query, 1), answer(sizes.reply);
    for (int i = 0; i < count; ++i) {
        double t0 = nowUs();
        if (!RawTcp::sendAll(s, question.data(), question.size()) || !RawTcp::recvAll(s, answer.data(), answer.size()))
            return false;
        if (samples != nullptr)
            samples->push_back(nowUs() - t0);
    }
    return true;
}

// MiB/s of the payload, 0 on failure.
double rawBulk(SOCKET s, const std::vector<BYTE>& data)
{
    DWORD command[3] = {kRawBulk, static_cast<DWORD>(data.size()), 0};
    if (!RawTcp::sendAll(s, command, sizeof command))
        return 0;
    double t0 = nowUs();
    BYTE done = 0;
    if (!RawTcp::sendAll(s, data.data(), data.size()) || !RawTcp::recvAll(s, &done, 1) || done != kDone)
        return 0;
    return (static_cast<double>(kBulkBytes) / (1024 * 1024)) / ((nowUs() - t0) / 1e6);
}

// ---------------------------------------------------------------------------------------------
// The session.

// On the host: answers QUE_next with its number + 1, counts the bytes of INS_bulk notices and
// tells their sum with QUE_received.
class AnswerElement : public CElement {
public:
    AnswerElement()
    {
        setElementId(ANSWER_ID);
        registerMethod("QUE_next", &AnswerElement::QUE_next);
        registerMethod("INS_bulk", &AnswerElement::INS_bulk);
        registerMethod("QUE_received", &AnswerElement::QUE_received);
    }

private:
    ISerializable* QUE_next(const std::string& text) { return new CInteger(std::atoi(text.c_str()) + 1); }
    void INS_bulk(int size, const unsigned char*) { received_ += size; }
    ISerializable* QUE_received(const std::string&) { return new CInteger(received_); }

    int received_ = 0; // the handler thread's own
};

// On the joined terminal: its calls go out through the session's proxy.
class AskerElement : public CElement {
public:
    AskerElement() { setElementId("ASKER"); }
    using CElement::queryWithStr;
    using CElement::sendNoticeBuf;
};

// The session logic's part: the host ends when the joined terminal has left.
class Director : public ISessionHandleEventListener {
public:
    explicit Director(bool isHost) : isHost_(isHost) {}
    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override
    {
        std::printf("EVENT %d %s\n", eventId, terminalId.c_str());
        std::fflush(stdout);
        if (isHost_ || terminalId == JOINED_ID)
            PostQuitMessage(0);
    }

private:
    bool isHost_;
};

// The user-interface thread's loop, until WM_QUIT.
void messageLoop()
{
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string closeAndDelete(CNetwork* network)
{
    std::string thrown;
    try {
        network->close();
    } catch (CJException& e) {
        thrown = e.getMessage();
    }
    delete network;
    return thrown;
}

int host(const std::string& dir)
{
    SOCKET listener = RawTcp::listenOn(kRawPort);
    if (listener == INVALID_SOCKET)
        return fail("raw listen " + std::to_string(WSAGetLastError()));
    std::thread raw([listener] { rawServe(listener); });

    Director director(true);
    CNetwork* network = new CNetwork(HOST_ID, true, "LC");
    AnswerElement answer;
    answer.start("ANSWER");
    int rc = 0;
    try {
        std::string instance = network->openLocalSession(APPLICATION, &director);
        network->plugIn("", &answer);
        if (!PeerIo::writeFile(dir + "/session.guid", instance))
            rc = fail("session file");
    } catch (CJException& e) {
        rc = fail("host: " + e.getMessage());
    }
    if (rc == 0)
        messageLoop();
    std::string thrown = closeAndDelete(network);
    answer.end();
    closesocket(listener);
    raw.join();
    if (!thrown.empty())
        rc = fail("close: " + thrown);
    return rc;
}

double percentile(std::vector<double> v, double part)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t at = static_cast<size_t>(std::ceil(part * static_cast<double>(v.size())));
    return v[std::min(v.size(), std::max<size_t>(at, 1)) - 1];
}

// The measurements, on a thread of their own: the user-interface thread keeps its loop.
int measure(AskerElement& asker, const std::string& ip)
{
    const std::string question = "123";
    const Sizes sizes = messageSizes(question, 124);
    SOCKET raw = RawTcp::connectTo(ip, kRawPort, kWait);
    if (raw == INVALID_SOCKET)
        return fail("raw connect");
    int rc = 0;
    auto query = [&](std::vector<double>* samples) {
        double t0 = nowUs();
        std::unique_ptr<ISerializable> value(asker.queryWithStr(HOST_ID, ANSWER_ID, "QUE_next", question));
        CInteger* number = dynamic_cast<CInteger*>(value.get());
        if (samples != nullptr)
            samples->push_back(nowUs() - t0);
        return number != nullptr && number->intValue() == 124;
    };
    try {
        std::vector<double> queries, rawTrips, noticeRates, rawRates;
        for (int i = 0; i < kWarmUp; ++i)
            if (!query(nullptr))
                throw std::string("a wrong answer");
        if (!rawRoundTrips(raw, sizes, kWarmUp, nullptr))
            throw std::string("raw round trips");
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kCallsPerRound; ++i)
                if (!query(&queries))
                    throw std::string("a wrong answer");
            if (!rawRoundTrips(raw, sizes, kCallsPerRound, &rawTrips))
                throw std::string("raw round trips");
        }
        std::vector<BYTE> bulk(kBulkBytes);
        for (size_t i = 0; i < bulk.size(); ++i)
            bulk[i] = static_cast<BYTE>(i * 131 + 7);
        std::vector<BYTE> rawBytes(sizes.notice, 0x5A);
        int sent = 0;
        for (int round = 0; round < kBulkRounds; ++round) {
            // Timed until the element has taken the notice: its answer to the query after it.
            double t0 = nowUs();
            asker.sendNoticeBuf(HOST_ID, ANSWER_ID, "INS_bulk", static_cast<int>(bulk.size()), bulk.data());
            sent += static_cast<int>(bulk.size());
            std::unique_ptr<ISerializable> value(asker.queryWithStr(HOST_ID, ANSWER_ID, "QUE_received", ""));
            double t1 = nowUs();
            CInteger* number = dynamic_cast<CInteger*>(value.get());
            if (number == nullptr || number->intValue() != sent)
                throw std::string("the notice did not arrive whole");
            noticeRates.push_back((static_cast<double>(kBulkBytes) / (1024 * 1024)) / ((t1 - t0) / 1e6));
            double rate = rawBulk(raw, rawBytes);
            if (rate <= 0)
                throw std::string("raw bulk");
            rawRates.push_back(rate);
        }
        result("query_bytes", static_cast<double>(sizes.query));
        result("reply_bytes", static_cast<double>(sizes.reply));
        result("notice_bytes", static_cast<double>(sizes.notice));
        result("query_median_us", percentile(queries, 0.5));
        result("query_p99_us", percentile(queries, 0.99));
        result("raw_median_us", percentile(rawTrips, 0.5));
        result("raw_p99_us", percentile(rawTrips, 0.99));
        result("notice_mibs", percentile(noticeRates, 0.5));
        result("raw_bulk_mibs", percentile(rawRates, 0.5));
    } catch (const std::string& what) {
        rc = fail(what);
    } catch (CJException& e) {
        rc = fail("measure: " + e.getMessage());
    }
    DWORD quit[3] = {kRawQuit, 0, 0};
    RawTcp::sendAll(raw, quit, sizeof quit);
    closesocket(raw);
    return rc;
}

int join(const std::string& dir, const std::string& ip)
{
    const std::string guidFile = dir + "/session.guid";
    if (!PeerIo::waitFile(guidFile, kWait))
        return fail("no session");
    Director director(false);
    CNetwork* network = new CNetwork(JOINED_ID, false, "RM");
    AskerElement asker;
    asker.start("ASKER");
    int rc = 0;
    try {
        network->openRemoteSession(APPLICATION, PeerIo::readFile(guidFile), ip, &director);
        network->plugIn("", &asker);
    } catch (CJException& e) {
        rc = fail("join: " + e.getMessage());
    }
    if (rc == 0) {
        DWORD ui = GetCurrentThreadId();
        std::atomic<int> measured{0};
        std::thread worker([&] {
            measured = measure(asker, ip);
            PostThreadMessageA(ui, WM_QUIT, 0, 0);
        });
        messageLoop();
        worker.join();
        rc = measured;
    }
    std::string thrown = closeAndDelete(network);
    asker.end();
    if (!thrown.empty())
        rc = fail("close: " + thrown);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY); // plain lines for the script that reads them
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerUs = static_cast<double>(frequency.QuadPart) / 1e6;
    std::string mode = argc > 2 ? argv[1] : "";
    if (mode != "host" && !(mode == "join" && argc > 3)) {
        std::fprintf(stderr, "usage: transport_bench host DIR | join DIR IP\n");
        return 64;
    }
    std::string dir = argv[2];
    // The trace file (log.dat) goes to the folder the program was started in.
    CTrace::setOutputToFile();
    CTrace::setDumpOff();
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return fail("WSAStartup");
    // Never hang the script: a peer that vanished ends this one too.
    std::thread([] {
        Sleep(kRunLimit);
        std::printf("FAIL run limit\n");
        std::fflush(stdout);
        std::_Exit(3);
    }).detach();
    CTrace::setThreadName("MAIN");
    CThread::registerUIThread();
    CLocalMethod invoker;
    int rc = mode == "host" ? host(dir) : join(dir, argv[3]);
    WSACleanup();
    return rc;
}
