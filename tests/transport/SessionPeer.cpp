// One terminal of a session on a host of the test LAN (tools/lan), built as the session logic
// builds it: on its user-interface thread (registered, with the invoker and a message loop) a
// CNetwork that hosts ("LC") or joins ("RM") the DirectPlay session, a CBroadcastNetwork
// ("BC"), and a stand-in for the director that notes every session event and, on the host,
// has the space remove the replicas of a terminal that left. The script that drives the LAN
// starts one per host and gives it commands through a file; the test elements of the element
// scenarios (spaces, shared copies, viewable elements) are plugged in by command.
//
//   session_peer host DIR NAME                  host a session (DIR/session.guid), then commands
//   session_peer join DIR NAME IP [GUIDFILE]     join the session, then commands
//   session_peer udpflood DIR NAME IP PORT SEED COUNT TARGET
//                                               COUNT broken datagrams at IP:PORT in bursts,
//                                               each followed by a valid notice that TARGET's
//                                               log must show before the next burst
//
// Commands, one a line in DIR/NAME.cmd, each answered "DONE <line number>" in the log:
//   space                    plug in a shared space "SPACE" (the master on the host)
//   install D | uninstall D  local calls to the space; spacepost METHOD ARG any other
//   expect D:HOME,...|-      wait (at most 30 s) until the space shows exactly these members
//                            (HOME: the terminal of the original); "MATCH D=<element id>;..."
//                            or "MISMATCH <what it shows>"
//   copy                     plug in the shared element "COPY" (the master on the host)
//   cooperate TEXT           "LOC_cooperate" with the rest of the line on the copy
//   viewable ID MASTER       plug in a viewable element, the master on terminal MASTER
//   assign ID REQUEST | release ID | holder ID   the operator right of a viewable element
//   answer                   plug in "ANSWER-<NAME>", whose QUE_next answers its number + 1
//   query TERM N             N queries, one after the other, to ANSWER-<TERM> on TERM
//   bc                       plug "VOICE" into the broadcast session; BC port in DIR/NAME.port
//   addr TERM IP PORT | unaddr TERM | notice DEST TEXT   the broadcast session's addresses
//                            and a notice of VOICE to DEST
//   close                    close the DirectPlay session, then the broadcast session; end
// Log lines: "EVENT <id> <terminal>" (one told off the UI thread: "EVENT-OFF-UI ..."),
// "J <journal entry>" (spaces, copies, answers, VOICE), "V <element> <event>" (viewables),
// "HOLDER <id> <terminal>", "QUERY <term> <n> OK|FAIL ...", "CLOSED <exception or OK>",
// "THREADS <at start> <after close> <after delete>", "PROBE HEARD|DROPPED".
#include "CBroadcastNetwork.h"
#include "CGuid.h"
#include "CIOException.h"
#include "CIllegalStateException.h"
#include "CInteger.h"
#include "CJException.h"
#include "CLocalMethod.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgEncoder.h"
#include "CNetwork.h"
#include "CThread.h"
#include "IOutputStream.h"
#include "ISessionHandleEventListener.h"
#include "PayloadCorrupter.h"
#include "PeerIo.h"
#include "ReplicaFixtures.h"
#include "SessionTestKit.h"
#include "SpaceFixtures.h"
#include "ViewableFixtures.h"

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char APPLICATION[] = "6B1C2E0A-3D7F-4C55-9E21-7A0D5B3C8F14";
constexpr DWORD kPhaseWait = 60000;   // ms for another host to reach the next step
constexpr DWORD kLifeLimit = 540000;  // ms a terminal waits for commands before it gives up:
                                      // longer than the longest scenario, the flood
constexpr DWORD kExpectLimit = 30000; // ms an "expect" waits for its members
constexpr UINT kTickMs = 20;

// "word rest of the line": the rest keeps its blanks.
std::pair<std::string, std::string> split(const std::string& line)
{
    size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return {line, ""};
    return {line.substr(0, blank), line.substr(blank + 1)};
}

// Answers QUE_next with its number + 1, and notes each question.
class AnswerElement : public CElement {
public:
    AnswerElement(Journal& journal, const std::string& terminalId) : journal_(journal)
    {
        setElementId("ANSWER-" + terminalId);
        registerMethod("QUE_next", &AnswerElement::QUE_next);
    }
    using CElement::queryWithStr;

private:
    ISerializable* QUE_next(const std::string& text)
    {
        journal_.add(getTerminalId() + " ANSWER QUE_next " + text + " from " + getCallerTerminal());
        return new CInteger(std::atoi(text.c_str()) + 1);
    }

    Journal& journal_;
};

// The broadcast session's element: logs each notice at once, its text made printable (a
// corrupted datagram may carry any bytes).
class VoiceElement : public CElement {
public:
    VoiceElement()
    {
        setElementId("VOICE");
        registerMethod("INS_note", &VoiceElement::INS_note);
    }
    using CElement::sendNoticeStr;

private:
    void INS_note(const std::string& text)
    {
        std::string shown = text;
        for (char& c : shown)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
                c = '?';
        PeerIo::log("J %s VOICE INS_note %s [%s]", getTerminalId().c_str(), getCallerTerminal().c_str(), shown.c_str());
    }
};

// One viewable element of this terminal with its log and display.
struct Viewable {
    EventLog log;
    FakeDisplay display{log};
    std::unique_ptr<TestViewable> element;
    size_t printed = 0;
};

class Terminal : public ISessionHandleEventListener {
public:
    Terminal(const std::string& dir, const std::string& name, bool isHost)
        : dir_(dir), name_(name), isHost_(isHost), uiThread_(GetCurrentThreadId())
    {
    }

    // The session director's part: a terminal that left has its replicas removed by the master
    // space; everything is noted.
    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override
    {
        bool onUi = GetCurrentThreadId() == uiThread_;
        PeerIo::log("%s %d %s", onUi ? "EVENT" : "EVENT-OFF-UI", eventId, terminalId.c_str());
        ++eventsHeard_;
        if (isHost_ && eventId == 1 && terminalId != name_ && space_)
            CLocalMethod::postMethodStr(space_->getObjectId(), "LOC_uninstallAll", terminalId);
    }

    int threadsAtStart = 0;
    CNetwork* network = nullptr;
    std::unique_ptr<CBroadcastNetwork> broadcast;
    int broadcastPort = 0;

    // Runs the commands until "close" (0) or the life limit (2), with the message loop.
    int run()
    {
        ULONGLONG deadline = GetTickCount64() + kLifeLimit;
        UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, nullptr);
        MSG msg;
        while (!ended_ && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
                tick();
                if (GetTickCount64() > deadline && !ended_) {
                    PeerIo::log("GAVE UP");
                    end();
                    exitCode_ = 2;
                }
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        KillTimer(nullptr, timer);
        return exitCode_;
    }

    // Close of both sessions, as the director does at the end, and deletion.
    void end()
    {
        std::string thrown = "OK";
        try {
            network->close();
        } catch (CIllegalStateException& e) {
            thrown = "CIllegalStateException" + e.getMessage();
        } catch (CJException& e) {
            thrown = "CJException" + e.getMessage();
        }
        if (broadcast) {
            if (voice_)
                broadcast->plugOut("VOICE");
            broadcast->close();
        }
        if (querying_.joinable())
            querying_.join();
        printJournals();
        PeerIo::log("CLOSED %s", thrown.c_str());
        int closed = threadCount();
        endElements();
        broadcast.reset();
        delete network;
        network = nullptr;
        PeerIo::log("THREADS %d %d %d", threadsAtStart, closed, threadCount());
        ended_ = true;
    }

private:
    void tick()
    {
        printJournals();
        if (pendingExpect_ && !checkExpect())
            return;
        std::string text = PeerIo::readFile(PeerIo::path(dir_, name_ + ".cmd"));
        std::vector<std::string> lines;
        size_t at = 0;
        for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(text.substr(at, end - at));
        while (!ended_ && done_ < lines.size()) {
            std::string line = lines[done_];
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            ++done_;
            if (!command(line))
                return; // answered later
            PeerIo::log("DONE %zu", done_);
        }
    }

    // False when the command finishes later (an expect).
    bool command(const std::string& line)
    {
        auto [verb, rest] = split(line);
        try {
            if (verb == "space") {
                space_.reset(new TestSpace(network, isHost_, journal_));
                space_->start(name_ + "-SPACE");
                network->plugIn("SPACE", space_.get());
            } else if (verb == "install" || verb == "uninstall") {
                CLocalMethod::postMethodStr(space_->getObjectId(), verb == "install" ? "LOC_install" : "LOC_uninstall",
                                            rest);
            } else if (verb == "spacepost") {
                auto [method, argument] = split(rest);
                CLocalMethod::postMethodStr(space_->getObjectId(), method, argument);
            } else if (verb == "expect") {
                expected_.clear();
                if (rest != "-") {
                    std::stringstream items(rest);
                    for (std::string item; std::getline(items, item, ',');) {
                        size_t colon = item.rfind(':');
                        expected_[item.substr(0, colon)] = item.substr(colon + 1);
                    }
                }
                pendingExpect_ = true;
                expectDeadline_ = GetTickCount64() + kExpectLimit;
                return checkExpect();
            } else if (verb == "copy") {
                copy_.reset(new TestCopy(journal_, "COPY", isHost_));
                copy_->start("COPY-" + name_);
                network->plugIn("COPY", copy_.get());
            } else if (verb == "cooperate") {
                CLocalMethod::postMethodStr(copy_->getObjectId(), "LOC_cooperate", rest);
            } else if (verb == "viewable") {
                auto [id, master] = split(rest);
                std::unique_ptr<Viewable> viewable(new Viewable);
                if (master == name_)
                    viewable->element.reset(
                        new TestViewable(viewable->log, &viewable->display, ViewTexts(), "VIEW-" + id));
                else
                    viewable->element.reset(new TestViewable(viewable->log, &viewable->display));
                viewable->element->setId(id);
                if (master != name_)
                    viewable->element->setMasterTerminal(master);
                viewable->element->start(id + (master == name_ ? "-M" : "-S"));
                network->plugIn(id, viewable->element.get());
                viewables_[id] = std::move(viewable);
            } else if (verb == "assign") {
                auto [id, request] = split(rest);
                CLocalMethod::postMethodStr(viewables_.at(id)->element->getObjectId(), "LOC_assignToOperator",
                                            request);
            } else if (verb == "release") {
                CLocalMethod::postMethod(viewables_.at(rest)->element->getObjectId(), "LOC_removeFromOperator");
            } else if (verb == "holder") {
                PeerIo::log("HOLDER %s %s", rest.c_str(), viewables_.at(rest)->element->getOperator().c_str());
            } else if (verb == "answer") {
                answer_.reset(new AnswerElement(journal_, name_));
                answer_->start("ANSWER");
                network->plugIn("", answer_.get());
            } else if (verb == "query") {
                auto [term, count] = split(rest);
                if (querying_.joinable())
                    querying_.join();
                // Not on this thread: it keeps the messages moving meanwhile.
                querying_ = std::thread([this, term = term, n = std::atoi(count.c_str())] { queries(term, n); });
            } else if (verb == "bc") {
                voice_.reset(new VoiceElement());
                voice_->start("VOICE");
                broadcast->plugIn("VOICE", voice_.get());
            } else if (verb == "addr") {
                std::stringstream words(rest);
                std::string term, ip;
                int port = 0;
                words >> term >> ip >> port;
                broadcast->setAddress(term, ip, port);
            } else if (verb == "unaddr") {
                broadcast->removeAddress(rest);
            } else if (verb == "notice") {
                auto [dest, text] = split(rest);
                voice_->sendNoticeStr(dest, "VOICE", "INS_note", text);
            } else if (verb == "close") {
                end();
            } else {
                PeerIo::log("UNKNOWN COMMAND %s", line.c_str());
            }
        } catch (CJException& e) {
            PeerIo::log("COMMAND FAILED %s: %s", line.c_str(), e.getMessage().c_str());
        }
        return true;
    }

    void queries(const std::string& term, int count)
    {
        for (int i = 0; i < count; ++i) {
            try {
                std::unique_ptr<ISerializable> answer(
                    answer_->queryWithStr(term, "ANSWER-" + term, "QUE_next", std::to_string(i)));
                CInteger* number = dynamic_cast<CInteger*>(answer.get());
                if (number == nullptr || number->intValue() != i + 1) {
                    PeerIo::log("QUERY %s FAIL at %d: a wrong answer", term.c_str(), i);
                    return;
                }
            } catch (CJException& e) {
                PeerIo::log("QUERY %s FAIL at %d: %s", term.c_str(), i, e.getMessage().c_str());
                return;
            } catch (ISerializable* thrown) {
                PeerIo::log("QUERY %s FAIL at %d: the method threw", term.c_str(), i);
                delete thrown;
                return;
            }
        }
        PeerIo::log("QUERY %s %d OK", term.c_str(), count);
    }

    // True once the expect is answered.
    bool checkExpect()
    {
        std::map<std::string, std::string> members = space_->members();
        bool matches = members.size() == expected_.size();
        std::string ids, shown;
        for (auto& member : members) {
            shown += member.first + "=" + member.second + ";";
            auto wanted = expected_.find(member.first);
            std::string kind = wanted == expected_.end() ? "?"
                               : wanted->second == name_ ? "O "
                                                         : "R " + wanted->second + " ";
            if (member.second.compare(0, kind.size(), kind) != 0)
                matches = false;
            ids += member.first + "=" + member.second.substr(member.second.rfind(' ') + 1) + ";";
        }
        if (!matches && GetTickCount64() < expectDeadline_)
            return false;
        PeerIo::log(matches ? "MATCH %s" : "MISMATCH %s", matches ? ids.c_str() : shown.c_str());
        pendingExpect_ = false;
        PeerIo::log("DONE %zu", done_);
        return true;
    }

    void printJournals()
    {
        std::vector<std::string> entries = journal_.entries();
        for (; printed_ < entries.size(); ++printed_)
            PeerIo::log("J %s", entries[printed_].c_str());
        for (auto& viewable : viewables_) {
            std::vector<std::string> events = viewable.second->log.events();
            for (; viewable.second->printed < events.size(); ++viewable.second->printed)
                PeerIo::log("V %s %s", viewable.first.c_str(), events[viewable.second->printed].c_str());
        }
    }

    // After close plugged them out.
    void endElements()
    {
        if (space_)
            space_->end();
        if (copy_)
            copy_->end();
        if (answer_)
            answer_->end();
        for (auto& viewable : viewables_)
            viewable.second->element->end();
        viewables_.clear();
        if (voice_)
            voice_->end();
    }

    std::string dir_;
    std::string name_;
    bool isHost_;
    DWORD uiThread_;
    Journal journal_;
    size_t printed_ = 0;
    size_t done_ = 0;
    bool ended_ = false;
    int exitCode_ = 0;
    std::atomic<int> eventsHeard_{0};
    bool pendingExpect_ = false;
    ULONGLONG expectDeadline_ = 0;
    std::map<std::string, std::string> expected_;
    std::unique_ptr<TestSpace> space_;
    std::unique_ptr<TestCopy> copy_;
    std::unique_ptr<AnswerElement> answer_;
    std::unique_ptr<VoiceElement> voice_;
    std::map<std::string, std::unique_ptr<Viewable>> viewables_;
    std::thread querying_;
};

void makeBroadcast(Terminal& terminal, const std::string& dir, const std::string& name)
{
    terminal.broadcast.reset(new CBroadcastNetwork(name, &terminal.broadcastPort, "BC"));
    PeerIo::writeFile(PeerIo::path(dir, name + ".port"), std::to_string(terminal.broadcastPort));
    PeerIo::log("BC PORT %d", terminal.broadcastPort);
}

int host(const std::string& dir, const std::string& name)
{
    Terminal terminal(dir, name, true);
    terminal.threadsAtStart = threadCount();
    terminal.network = new CNetwork(name, true, "LC");
    try {
        std::string instance = terminal.network->openLocalSession(APPLICATION, &terminal);
        PeerIo::log("HOSTING %s", instance.c_str());
        makeBroadcast(terminal, dir, name);
        PeerIo::writeFile(PeerIo::path(dir, "session.guid"), instance);
    } catch (CJException& e) {
        PeerIo::log("HOST FAILED %s", e.getMessage().c_str());
        terminal.end();
        return 1;
    }
    return terminal.run();
}

int join(const std::string& dir, const std::string& name, const std::string& ip, const std::string& guidFile)
{
    std::string file = guidFile.empty() ? PeerIo::path(dir, "session.guid") : guidFile;
    if (!PeerIo::waitFile(file, kPhaseWait)) {
        PeerIo::log("NO SESSION");
        return 1;
    }
    Terminal terminal(dir, name, false);
    terminal.threadsAtStart = threadCount();
    terminal.network = new CNetwork(name, false, "RM");
    ULONGLONG start = GetTickCount64();
    try {
        terminal.network->openRemoteSession(APPLICATION, PeerIo::readFile(file), ip, &terminal);
    } catch (CIOException& e) {
        PeerIo::log("JOIN FAILED CIOException %llu %s", static_cast<unsigned long long>(GetTickCount64() - start),
                e.getMessage().c_str());
        // The listener is cleared: an event raised now is dropped.
        terminal.network->update(nullptr, "1 PROBE");
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        PeerIo::log("PROBE %s", CNetwork::getLiveEventTexts() == 0 ? "HANDLED" : "WAITING");
        terminal.end();
        return 3;
    } catch (CJException& e) {
        PeerIo::log("JOIN FAILED CJException %s", e.getMessage().c_str());
        terminal.end();
        return 1;
    }
    PeerIo::log("JOINED");
    makeBroadcast(terminal, dir, name);
    return terminal.run();
}

// ---- the broken datagrams of the flood

class Capture : public IOutputStream {
public:
    void write(const unsigned char* data, int size) override { bytes.assign(data, data + size); }
    std::vector<unsigned char> bytes;
};

std::vector<unsigned char> encodedNotice(const std::string& receiver, const std::string& element,
                                         const std::string& sender, const std::string& method,
                                         const std::string& text)
{
    CMethodCallMessage* call = CMethodCallMessage::createRemoteCall(receiver, element, sender, "VOICE", method,
                                                                    static_cast<unsigned>(text.size()), text.data());
    Capture capture;
    CMethodCallMsgEncoder encoder(&capture);
    encoder.write(call);
    IMessage::release(call);
    return capture.bytes;
}

// Watches a terminal's log (in the shared folder) for a line, reading only what was added.
class LogWatch {
public:
    explicit LogWatch(const std::string& file) : file_(file) {}
    bool waitFor(const std::string& piece, DWORD timeoutMs)
    {
        for (DWORD waited = 0;; waited += 10) {
            readMore();
            size_t at = seen_.find(piece);
            if (at != std::string::npos) {
                seen_.erase(0, at + piece.size());
                return true;
            }
            // Keep only the last line, which may be incomplete.
            size_t last = seen_.rfind('\n');
            if (last != std::string::npos)
                seen_.erase(0, last);
            if (waited >= timeoutMs)
                return false;
            Sleep(10);
        }
    }

private:
    void readMore()
    {
        FILE* f = std::fopen(file_.c_str(), "rb");
        if (f == nullptr)
            return;
        std::fseek(f, static_cast<long>(offset_), SEEK_SET);
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            seen_.append(buffer, n);
            offset_ += n;
        }
        std::fclose(f);
    }

    std::string file_;
    size_t offset_ = 0;
    std::string seen_;
};

// COUNT broken datagrams in bursts; after each burst one valid notice, and the next burst only
// once the target's log shows that notice: it has worked through the burst. A burst and the
// notice fit in the target's socket buffer, so a target that keeps up loses none of them.
int udpflood(const std::string& dir, const std::string& ip, int port, unsigned seed, unsigned count,
             const std::string& target)
{
    const unsigned BURST = 40;          // datagrams a burst, one of them perhaps of 65507 bytes
    const DWORD NOTICE_WAIT_MS = 10000; // for the target to show the notice after a burst
    const int LARGEST_DATAGRAM = 65507;
    PeerIo::log("SEED %u", seed);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = inet_addr(ip.c_str());
    to.sin_port = htons(static_cast<u_short>(port));
    auto send = [&](const std::vector<unsigned char>& bytes) {
        return sendto(s, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                      reinterpret_cast<sockaddr*>(&to), sizeof to) != SOCKET_ERROR;
    };
    std::vector<std::vector<unsigned char>> bases;
    for (const char* receiver : {"@ALL_TERMINAL", "H", "A", "R", "@HOST_TERMINAL"})
        for (const char* element : {"VOICE", "SPACE", "731D5641-16D3-11d4-8727-0000F460D121"})
            bases.push_back(encodedNotice(receiver, element, "R", "INS_note", "junk"));
    bases.push_back(encodedNotice("@ALL_TERMINAL", "VOICE", "R", "INS_playVoice", std::string(600, '\x55')));
    PayloadCorrupter corrupter(seed, bases);
    std::vector<unsigned char> largest(LARGEST_DATAGRAM, 0x01);
    LogWatch watch(PeerIo::path(dir, target + ".log"));
    unsigned sent = 0, bursts = 0, lost = 0;
    for (unsigned i = 0; i < count; ++bursts) {
        for (unsigned k = 0; k < BURST && i < count; ++k, ++i) {
            std::vector<unsigned char> bytes;
            if (i % 1000 == 0)
                bytes.clear(); // empty
            else if (i % 1000 == 1)
                bytes = largest;
            else
                bytes = corrupter.next();
            if (send(bytes))
                ++sent;
        }
        std::string text = "between " + std::to_string(bursts);
        send(encodedNotice("@ALL_TERMINAL", "VOICE", "R", "INS_note", text));
        if (!watch.waitFor("INS_note R [" + text + "]", NOTICE_WAIT_MS)) {
            PeerIo::log("LOST %u", bursts);
            ++lost;
        }
    }
    closesocket(s);
    PeerIo::log("BURSTS %u", bursts);
    PeerIo::log("SENT %u", sent);
    return sent == count && lost == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 4) {
        std::fprintf(stderr, "usage: session_peer MODE DIR NAME ...\n");
        return 64;
    }
    std::string mode = argv[1], dir = argv[2], name = argv[3];
    std::vector<std::string> more(argv + 4, argv + argc);
    more.resize(5);
    // The trace file (log.dat) is where the program was started: the script starts each
    // terminal in DIR/NAME, and its files are there too.
    std::string own = PeerIo::path(dir, name);
    CreateDirectoryA(own.c_str(), nullptr);
    SetCurrentDirectoryA(own.c_str());
    CTrace::setOutputToFile();
    CTrace::setDumpOff();
    WinsockUse winsock;
    if (mode == "udpflood")
        return udpflood(dir, more[0], std::atoi(more[1].c_str()),
                        static_cast<unsigned>(std::strtoul(more[2].c_str(), nullptr, 10)),
                        static_cast<unsigned>(std::strtoul(more[3].c_str(), nullptr, 10)), more[4]);
    CTrace::setThreadName("MAIN");
    CThread::registerUIThread();
    CLocalMethod invoker;
    if (mode == "host")
        return host(dir, name);
    if (mode == "join")
        return join(dir, name, more[0], more[1]);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 64;
}
