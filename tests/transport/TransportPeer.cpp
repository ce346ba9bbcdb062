// One terminal of a DirectPlay session on a host of the test LAN (tools/lan), built as the
// session handle builds it: the PC server, its stream adapters, the method-call codec and a
// message gate. The script that drives the LAN starts one per host and gives it commands
// through a file; each terminal writes what it receives and every session event to its log.
//
//   transport_peer host DIR NAME              host a session (DIR/session.guid), then commands
//   transport_peer join DIR NAME IP [GUIDFILE] join the session, then commands
//   transport_peer raw DIR NAME IP SEED COUNT  a raw DirectPlay client that sends COUNT broken
//                                             payloads to the host, then leaves on DIR/NAME.stop
//
// Commands, one a line in DIR/NAME.cmd (each answered "DONE <line number>" in the log):
//   send DEST N [SIZE]   N calls to the element "SINK" of DEST, each with SIZE bytes (16)
//   query DEST N [SIZE]  N queries to the host's SINK, addressed to DEST, one after the other:
//                        each waits (up to 5 s) for the host's answer to the sender
//   close                releaseThread, the gate's stop, close; then the program ends
// Log lines: "RECV <sender> <receiver> <sequence> <size> OK|BAD", "ORDER <sender> ...",
// "EVENT <event text>", "JOIN FAILED <exception> <ms>", "CLOSED <ms>",
// "QUERIES <answered> OF <n> P50 <ms> P99 <ms> MAX <ms>".
#include "CDPlayTestKit.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CJException.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgEncoder.h"
#include "IMessageListener.h"
#include "IObserver.h"
#include "IOutputStream.h"
#include "PayloadCorrupter.h"
#include "PeerIo.h"
#include "SessionStack.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

const char APPLICATION[] = "6B1C2E0A-3D7F-4C55-9E21-7A0D5B3C8F14";
constexpr DWORD kPhaseWait = 60000;  // ms for another host to reach the next step
constexpr DWORD kLifeLimit = 200000; // ms a terminal waits for commands before it gives up

// The bytes of a call's argument, from its sender and sequence number.
unsigned char patternByte(const std::string& sender, unsigned sequence, size_t i)
{
    unsigned seed = sequence * 131u;
    for (char c : sender)
        seed = seed * 31u + static_cast<unsigned char>(c);
    return static_cast<unsigned char>(seed + i * 7u + (i >> 8));
}

class Sink : public IMessageListener {
public:
    // The host answers queries through its gate, as an element answers a call.
    void answerWith(IMessageListener* gate, const std::string& self, bool answers)
    {
        gate_ = gate;
        self_ = self;
        answers_ = answers;
    }
    std::atomic<unsigned> lastAnswer{~0u}; // the sequence number of the last answer that came

    void notifyMessage(IMessage* message) override
    {
        CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
        const std::string& sender = message->getSndTermId();
        unsigned sequence = 0;
        if (call != nullptr && std::sscanf(call->getMethodName().c_str(), "query %u", &sequence) == 1) {
            if (answers_) {
                unsigned char none = 0;
                gate_->notifyMessage(CMethodCallMessage::createRemoteCall(
                    sender, "SINK", self_, "SOURCE", "answer " + std::to_string(sequence), 1, &none));
            }
            IMessage::release(message);
            return;
        }
        if (call != nullptr && std::sscanf(call->getMethodName().c_str(), "answer %u", &sequence) == 1) {
            lastAnswer = sequence;
            IMessage::release(message);
            return;
        }
        bool named = call != nullptr && std::sscanf(call->getMethodName().c_str(), "seq %u", &sequence) == 1;
        bool good = named && call->isCallWithBufferParam();
        size_t size = 0;
        if (good) {
            size = call->getBufSize();
            const unsigned char* bytes = call->getBuf();
            for (size_t i = 0; i < size && good; ++i)
                good = bytes[i] == patternByte(sender, sequence, i);
        }
        PeerIo::log("RECV %s %s %u %zu %s", sender.c_str(), message->getRecTermId().c_str(), sequence, size,
                good ? "OK" : "BAD");
        if (good) {
            auto last = last_.find(sender);
            if (last != last_.end() && sequence <= last->second)
                PeerIo::log("ORDER %s %u after %u", sender.c_str(), sequence, last->second);
            last_[sender] = sequence;
        }
        IMessage::release(message);
    }

private:
    std::map<std::string, unsigned> last_; // the receive thread's own
    IMessageListener* gate_ = nullptr;
    std::string self_;
    bool answers_ = false;
};

class EventLogger : public IObserver {
public:
    void update(CObservable*, std::string argument) override { PeerIo::log("EVENT %s", argument.c_str()); }
};

struct Terminal : SessionStack {
    Terminal(const std::string& name, bool isHost) : SessionStack(name, isHost, &events)
    {
        gate->addListener("SINK", &sink);
        sink.answerWith(gate, name, isHost);
    }

    EventLogger events;
    Sink sink;
};

// Runs the commands of DIR/NAME.cmd until "close" (0) or the life limit (2).
int runCommands(Terminal& terminal, const std::string& dir, const std::string& name, bool opened)
{
    std::string file = PeerIo::path(dir, name + ".cmd");
    size_t done = 0;
    unsigned sequence = 0;
    ULONGLONG deadline = GetTickCount64() + kLifeLimit;
    while (GetTickCount64() < deadline) {
        std::string text = PeerIo::readFile(file);
        std::vector<std::string> lines;
        size_t at = 0;
        for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        for (; done < lines.size(); ++done) {
            char verb[32] = {0}, dest[256] = {0};
            unsigned count = 0, size = 16;
            int fields = std::sscanf(lines[done].c_str(), "%31s %255s %u %u", verb, dest, &count, &size);
            if (fields >= 3 && std::strcmp(verb, "send") == 0) {
                for (unsigned i = 0; i < count; ++i, ++sequence) {
                    std::vector<unsigned char> argument(size);
                    for (size_t b = 0; b < argument.size(); ++b)
                        argument[b] = patternByte(name, sequence, b);
                    terminal.gate->notifyMessage(CMethodCallMessage::createRemoteCall(
                        dest, "SINK", name, "SOURCE", "seq " + std::to_string(sequence),
                        static_cast<unsigned>(argument.size()), argument.data()));
                }
            } else if (fields >= 3 && std::strcmp(verb, "query") == 0) {
                std::vector<ULONGLONG> times;
                for (unsigned i = 0; i < count; ++i, ++sequence) {
                    std::vector<unsigned char> argument(size, 0x5A);
                    ULONGLONG start = GetTickCount64();
                    terminal.gate->notifyMessage(CMethodCallMessage::createRemoteCall(
                        dest, "SINK", name, "SOURCE", "query " + std::to_string(sequence),
                        static_cast<unsigned>(argument.size()), argument.data()));
                    while (terminal.sink.lastAnswer != sequence && GetTickCount64() - start < 5000)
                        Sleep(1);
                    if (terminal.sink.lastAnswer == sequence)
                        times.push_back(GetTickCount64() - start);
                }
                std::vector<ULONGLONG> sorted = times;
                std::sort(sorted.begin(), sorted.end());
                auto at = [&](double share) {
                    return sorted.empty() ? 0ull
                                          : static_cast<unsigned long long>(
                                                sorted[std::min(sorted.size() - 1, static_cast<size_t>(share * sorted.size()))]);
                };
                PeerIo::log("QUERIES %zu OF %u P50 %llu P99 %llu MAX %llu", times.size(), count, at(0.5), at(0.99),
                            sorted.empty() ? 0ull : static_cast<unsigned long long>(sorted.back()));
            } else if (fields >= 1 && std::strcmp(verb, "close") == 0) {
                ULONGLONG start = GetTickCount64();
                terminal.end(opened);
                PeerIo::log("CLOSED %llu", static_cast<unsigned long long>(GetTickCount64() - start));
                PeerIo::log("DONE %zu", done + 1);
                return 0;
            } else {
                PeerIo::log("UNKNOWN COMMAND %s", lines[done].c_str());
            }
            PeerIo::log("DONE %zu", done + 1);
        }
        Sleep(50);
    }
    PeerIo::log("GAVE UP");
    terminal.end(opened);
    return 2;
}

int host(const std::string& dir, const std::string& name)
{
    Terminal terminal(name, true);
    std::string instance;
    try {
        CGuid* guid = terminal.server->openLocalSession(CGuid(APPLICATION));
        instance = guid->toString();
        delete guid;
    } catch (CJException& e) {
        PeerIo::log("HOST FAILED %s", e.getMessage().c_str());
        terminal.end(false);
        return 1;
    }
    PeerIo::log("HOSTING %s", instance.c_str());
    PeerIo::writeFile(PeerIo::path(dir, "session.guid"), instance);
    return runCommands(terminal, dir, name, true);
}

int join(const std::string& dir, const std::string& name, const std::string& ip, const std::string& guidFile)
{
    std::string file = guidFile.empty() ? PeerIo::path(dir, "session.guid") : guidFile;
    if (!PeerIo::waitFile(file, kPhaseWait)) {
        PeerIo::log("NO SESSION");
        return 1;
    }
    Terminal terminal(name, false);
    ULONGLONG start = GetTickCount64();
    try {
        terminal.server->openRemoteSession(CGuid(APPLICATION), CGuid(PeerIo::readFile(file)), ip);
    } catch (CIOException& e) {
        PeerIo::log("JOIN FAILED CIOException %llu %s", static_cast<unsigned long long>(GetTickCount64() - start),
                e.getMessage().c_str());
        terminal.end(false);
        return 3;
    } catch (CJException& e) {
        PeerIo::log("JOIN FAILED CJException %llu %s", static_cast<unsigned long long>(GetTickCount64() - start),
                e.getMessage().c_str());
        terminal.end(false);
        return 1;
    }
    PeerIo::log("JOINED");
    return runCommands(terminal, dir, name, true);
}

class Capture : public IOutputStream {
public:
    void write(const unsigned char* data, int size) override { bytes.assign(data, data + size); }
    std::vector<unsigned char> bytes;
};

std::vector<unsigned char> encoded(const std::string& receiver, const std::string& sender)
{
    std::vector<unsigned char> argument(24, 0x33);
    CMethodCallMessage* call = CMethodCallMessage::createRemoteCall(
        receiver, "SINK", sender, "SOURCE", "junk", static_cast<unsigned>(argument.size()), argument.data());
    Capture capture;
    CMethodCallMsgEncoder encoder(&capture);
    encoder.write(call);
    IMessage::release(call);
    return capture.bytes;
}

std::vector<unsigned char> terminalLeft(const std::string& terminalId)
{
    std::vector<unsigned char> bytes = {0, 0xFF, 0, 0, 0};
    bytes.insert(bytes.end(), terminalId.begin(), terminalId.end());
    bytes.push_back(0);
    return bytes;
}

// A client of the session that speaks DirectPlay directly and sends what no terminal would.
int raw(const std::string& dir, const std::string& name, const std::string& ip, unsigned seed, unsigned count)
{
    PeerIo::log("SEED %u", seed);
    if (!PeerIo::waitFile(PeerIo::path(dir, "session.guid"), kPhaseWait))
        return 1;
    GUID instance = CGuid::stringToGuid(PeerIo::readFile(PeerIo::path(dir, "session.guid")));
    IDirectPlay4A* dp = nullptr;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DPID self = 0;
    HRESULT hr = CDPlayTestKit::create(ip, 0, &dp);
    if (SUCCEEDED(hr))
        hr = CDPlayTestKit::join(dp, instance);
    if (SUCCEEDED(hr))
        hr = CDPlayTestKit::addPlayer(dp, name, event, false, self);
    if (FAILED(hr)) {
        PeerIo::log("RAW FAILED 0x%08lX", static_cast<unsigned long>(hr));
        return 1;
    }
    PeerIo::log("JOINED");
    // What comes back is read and dropped, so that the host never waits for this client.
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        std::vector<unsigned char> buffer(1 << 16);
        while (!stop) {
            WaitForSingleObject(event, 100);
            ResetEvent(event);
            for (;;) {
                DPID from = 0, to = 0;
                DWORD size = static_cast<DWORD>(buffer.size());
                HRESULT r = dp->Receive(&from, &to, DPRECEIVE_ALL, buffer.data(), &size);
                if (r == DPERR_BUFFERTOOSMALL) {
                    buffer.resize(size);
                    continue;
                }
                if (r != DP_OK)
                    break;
                // Why the session ends, if it does, shows in the log.
                if (from == DPID_SYSMSG && size >= sizeof(DWORD)) {
                    DWORD type = *reinterpret_cast<const DWORD*>(buffer.data());
                    if (type == DPSYS_SESSIONLOST || type == DPSYS_DESTROYPLAYERORGROUP)
                        PeerIo::log("SYSTEM MESSAGE 0x%04lX", static_cast<unsigned long>(type));
                }
            }
        }
    });
    std::vector<std::vector<unsigned char>> bases;
    for (const char* receiver : {"@HOST_TERMINAL", "@ALL_TERMINAL", "@ALL_TERMINAL_EXCEPT_ME", "@HAS_MASTER",
                                 "@HAS_SLAVE", "@PCS", "H", "A", "B", "@LOCAL_TERMINAL"})
        bases.push_back(encoded(receiver, name));
    for (const char* left : {"H", "A", "B", "", "R"})
        bases.push_back(terminalLeft(left));
    bases.push_back({0, 0xFE, 0, 0, 0, 'A', 0});
    PayloadCorrupter corrupter(seed, bases);
    unsigned sent = 0;
    unsigned failures = 0;
    for (unsigned i = 0; i < count; ++i) {
        std::vector<unsigned char> bytes = corrupter.next();
        if (bytes.empty())
            bytes.push_back(static_cast<unsigned char>(i));
        DPID to = i % 2 == 0 ? DPID_SERVERPLAYER : DPID_ALLPLAYERS;
        for (int tries = 0; tries < 2000; ++tries) {
            hr = dp->SendEx(self, to, CDPlayTestKit::kSendFlags, bytes.data(), static_cast<DWORD>(bytes.size()), 0, 0,
                            nullptr, nullptr);
            if (hr != DPERR_BUSY)
                break;
            Sleep(5);
        }
        if (hr == DP_OK || hr == DPERR_PENDING) {
            ++sent;
        } else if (failures++ == 0) {
            PeerIo::log("SEND FAILED at %u: 0x%08lX", i, static_cast<unsigned long>(hr));
        }
    }
    PeerIo::log("SENT %u", sent);
    PeerIo::waitFile(PeerIo::path(dir, name + ".stop"), kLifeLimit);
    stop = true;
    drain.join();
    dp->DestroyPlayer(self);
    dp->Close();
    dp->Release();
    CloseHandle(event);
    PeerIo::log("LEFT");
    return sent == count ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 4) {
        std::fprintf(stderr, "usage: transport_peer MODE DIR NAME ...\n");
        return 64;
    }
    std::string mode = argv[1], dir = argv[2], name = argv[3];
    std::string a = argc > 4 ? argv[4] : "", b = argc > 5 ? argv[5] : "", c = argc > 6 ? argv[6] : "";
    // Each terminal's trace (errors, fatal stops) in its own folder, as log.dat.
    std::string own = PeerIo::path(dir, name);
    CreateDirectoryA(own.c_str(), nullptr);
    SetCurrentDirectoryA(own.c_str());
    CTrace::setOutputToFile();
    CTrace::setDumpOff();
    if (mode == "host")
        return host(dir, name);
    if (mode == "join")
        return join(dir, name, a, b);
    if (mode == "raw")
        return raw(dir, name, a, static_cast<unsigned>(std::strtoul(b.c_str(), nullptr, 10)),
                   static_cast<unsigned>(std::strtoul(c.c_str(), nullptr, 10)));
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 64;
}
