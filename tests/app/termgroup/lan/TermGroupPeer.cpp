// One terminal of a session on a host of the test LAN (tools/lan), with the member list built as
// the session logic builds it: on the user-interface thread (registered, with the invoker and a
// message loop) the middleware wrapper, the lookup proxy with this terminal's own record, a
// CNetwork that hosts ("LC") or joins ("RM") the DirectPlay session, a CBroadcastNetwork ("BC"),
// the member list, and a probe element "VOICE" in the broadcast session. A stand-in for the
// director posts "LOC_removeSessionLostMember" on the host when another terminal left.
//
//   termgroup_peer host DIR NAME [late]           host a session (DIR/session.guid), then commands
//   termgroup_peer join DIR NAME HOST_ID HOST_IP [late]
// With "late" the own record is registered only by the command "regist", after the list is
// plugged in.
//
// Commands, one a line in DIR/NAME.cmd, each answered "DONE <line number>" in the log:
//   regist        register the own record (category "Server" on the host)
//   add | remove  "LOC_addSelf" / "LOC_removeSelf" posted to the list
//   notice DEST N the probe sends its numbered notice N to DEST in the broadcast session
//   table ID...   log "TABLE ID=IP:PORT ..." of the broadcast session ("-" for none)
//   members       log "MEMBERS ID,..." of the list
//   close         plug the list out, close both sessions, end
// Log lines: "NOTICE <notice>" (the list's observer), "HEARD <n> FROM <terminal>" (the probe),
// "SYNCHRONIZED" (the list, once), "EVENT <id> <terminal>", "POSTED LOC_removeSessionLostMember <terminal>", "PORT <port>".
#include "CBroadcastNetwork.h"
#include "CJException.h"
#include "CLocalMethod.h"
#include "CNetwork.h"
#include "CQuarn.h"
#include "CQuarnLusProxy.h"
#include "CTerminalGroup.h"
#include "CThread.h"
#include "ILookupServiceHandle.h"
#include "IObserver.h"
#include "ISessionHandleEventListener.h"
#include "PeerIo.h"

#include <fcntl.h>
#include <io.h>
#include <winsock2.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char APPLICATION[] = "764A7520-9D2C-11d4-AFDB-00105A67EDD0";
const char GROUP_ID[] = "D1D9B0A0-B266-11d4-8727-0000F460D121";
constexpr DWORD kPhaseWait = 90000;  // ms for the host's session to appear
constexpr DWORD kLifeLimit = 400000; // ms a terminal waits for commands before it gives up
constexpr UINT kTickMs = 20;

std::pair<std::string, std::string> split(const std::string& line)
{
    size_t blank = line.find(' ');
    if (blank == std::string::npos)
        return {line, ""};
    return {line.substr(0, blank), line.substr(blank + 1)};
}

// The broadcast session's element, where the voice element will be: logs each numbered notice.
class Probe : public CElement {
public:
    Probe()
    {
        setElementId("VOICE");
        registerMethod("INS_note", &Probe::INS_note);
    }
    using CElement::sendNoticeStr;

private:
    void INS_note(const std::string& text)
    {
        PeerIo::log("HEARD %s FROM %s", text.c_str(), getCallerTerminal().c_str());
    }
};

class NoticeLogger : public IObserver {
public:
    void update(CObservable*, std::string argument) override { PeerIo::log("NOTICE %s", argument.c_str()); }
};

class Terminal : public ISessionHandleEventListener {
public:
    Terminal(const std::string& dir, const std::string& name, bool isHost)
        : dir_(dir), name_(name), isHost_(isHost)
    {
    }

    void OnSessionHandleEvent(int eventId, const std::string& terminalId) override
    {
        PeerIo::log("EVENT %d %s", eventId, terminalId.c_str());
        if (isHost_ && eventId == 1 && terminalId != name_ && group && !ended_) {
            CLocalMethod::postMethodStr(group->getObjectId(), "LOC_removeSessionLostMember", terminalId);
            PeerIo::log("POSTED LOC_removeSessionLostMember %s", terminalId.c_str());
        }
    }

    // Everything up to the list plugged in; false when a step failed (logged).
    bool build(const std::string& hostId, const std::string& hostIp, bool late)
    {
        try {
            quarn.reset(new CQuarn(APPLICATION, name_));
            lookup.reset(CQuarnLusProxy::create(quarn->getInterface(), APPLICATION, invoker.GetSafeHwnd()));
            network = CNetwork::create(name_, isHost_, isHost_ ? "LC" : "RM");
            if (isHost_) {
                std::string session = network->openLocalSession(APPLICATION, this);
                record = CTerminalInfo("Server", "0.0.0.0", 0, "SESSION=" + session);
                PeerIo::writeFile(PeerIo::path(dir_, "session.guid"), session);
            } else {
                std::string file = PeerIo::path(dir_, "session.guid");
                if (!PeerIo::waitFile(file, kPhaseWait)) {
                    PeerIo::log("NO SESSION");
                    return false;
                }
                network->openRemoteSession(APPLICATION, PeerIo::readFile(file), hostIp, this);
                record = CTerminalInfo("", "0.0.0.0", 0, "");
            }
            record.setValid();
            PeerIo::log(isHost_ ? "HOSTING" : "JOINED");
            int port = 0;
            broadcast = CBroadcastNetwork::create(name_, &port, "BC");
            PeerIo::log("PORT %d", port);
            PeerIo::writeFile(PeerIo::path(dir_, name_ + ".port"), std::to_string(port));
            if (!late)
                regist();
            group.reset(new CTerminalGroup(GROUP_ID, isHost_, name_, port, isHost_ ? "" : hostId,
                                           isHost_ ? "" : hostIp, isHost_ ? lookup.get() : nullptr,
                                           broadcast));
            group->addObserver(&logger_);
            group->start(group->isMaster() ? "M_TERMGP" : "S_TERMGP");
            probe.start("VOICE");
            broadcast->plugIn("VOICE", &probe);
            network->plugIn(group->getElementId(), group.get());
            PeerIo::log("PLUGGED");
            return true;
        } catch (CJException& e) {
            PeerIo::log("BUILD FAILED %s", e.getMessage().c_str());
            return false;
        }
    }

    void regist()
    {
        lookup->regist(name_, record);
        PeerIo::log("REGISTERED");
    }

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

    // The director's order at the end: the list out of the session and ended, the sessions
    // closed, then deleted.
    void end()
    {
        ended_ = true;
        std::string thrown = "OK";
        try {
            if (group && network)
                network->plugOut(group->getElementId());
        } catch (CJException& e) {
            thrown = "plugOut " + e.getMessage();
        }
        if (group)
            group->end();
        try {
            if (network)
                network->close();
        } catch (CJException& e) {
            thrown = "close " + e.getMessage();
        }
        if (broadcast) {
            broadcast->plugOut("VOICE");
            broadcast->close();
            probe.end();
        }
        if (lookup && record.isValid()) {
            try {
                lookup->remove(name_);
            } catch (CJException&) {
            }
        }
        group.reset();
        delete broadcast;
        broadcast = nullptr;
        delete network;
        network = nullptr;
        lookup.reset();
        quarn.reset();
        PeerIo::log("CLOSED %s", thrown.c_str());
    }

    CLocalMethod invoker;
    std::unique_ptr<CQuarn> quarn;
    std::unique_ptr<ILookupServiceHandle> lookup;
    CTerminalInfo record;
    ISessionHandle* network = nullptr;
    IBroadcastSessionHandle* broadcast = nullptr;
    std::unique_ptr<CTerminalGroup> group;
    Probe probe;

private:
    void tick()
    {
        if (!synchronized_ && group && group->isSynchronized()) {
            synchronized_ = true;
            PeerIo::log("SYNCHRONIZED");
        }
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
            command(line);
            PeerIo::log("DONE %zu", done_);
        }
    }

    void command(const std::string& line)
    {
        auto [verb, rest] = split(line);
        try {
            if (verb == "regist") {
                regist();
            } else if (verb == "add" || verb == "remove") {
                CLocalMethod::postMethod(group->getObjectId(), verb == "add" ? "LOC_addSelf" : "LOC_removeSelf");
            } else if (verb == "notice") {
                auto [dest, number] = split(rest);
                probe.sendNoticeStr(dest, "VOICE", "INS_note", number);
            } else if (verb == "table") {
                std::stringstream ids(rest);
                std::string shown;
                CBroadcastNetwork* table = dynamic_cast<CBroadcastNetwork*>(broadcast);
                for (std::string id; ids >> id;) {
                    std::string ip;
                    int port = 0;
                    try {
                        table->getAddress(id, ip, port);
                        shown += " " + id + "=" + ip + ":" + std::to_string(port);
                    } catch (CJException&) {
                        shown += " " + id + "=-";
                    }
                }
                PeerIo::log("TABLE%s", shown.c_str());
            } else if (verb == "members") {
                std::vector<std::string> ids;
                group->getMemberIds(ids);
                std::string shown;
                for (const std::string& id : ids)
                    shown += (shown.empty() ? "" : ",") + id;
                PeerIo::log("MEMBERS %s", shown.empty() ? "-" : shown.c_str());
            } else if (verb == "close") {
                end();
            } else {
                PeerIo::log("UNKNOWN COMMAND %s", line.c_str());
            }
        } catch (CJException& e) {
            PeerIo::log("COMMAND FAILED %s: %s", line.c_str(), e.getMessage().c_str());
        }
    }

    std::string dir_;
    std::string name_;
    bool isHost_;
    NoticeLogger logger_;
    size_t done_ = 0;
    bool synchronized_ = false;
    bool ended_ = false;
    int exitCode_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 4) {
        std::fprintf(stderr, "usage: termgroup_peer host|join DIR NAME ...\n");
        return 64;
    }
    std::string mode = argv[1], dir = argv[2], name = argv[3];
    std::vector<std::string> more(argv + 4, argv + argc);
    more.resize(3);
    std::string own = PeerIo::path(dir, name);
    CreateDirectoryA(own.c_str(), nullptr);
    SetCurrentDirectoryA(own.c_str());
    CTrace::setOutputToFile();
    CTrace::setDumpOff();
    CTrace::setCodeScope("CTerminalGroup");
    CTrace::setThreadName("MAIN");
    WSADATA winsock;
    WSAStartup(MAKEWORD(2, 2), &winsock);
    CThread::registerUIThread();
    bool isHost = mode == "host";
    if (!isHost && mode != "join") {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 64;
    }
    bool late = (isHost ? more[0] : more[2]) == "late";
    int rc;
    {
        Terminal terminal(dir, name, isHost);
        if (!terminal.build(isHost ? "" : more[0], isHost ? "" : more[1], late)) {
            terminal.end();
            rc = 1;
        } else {
            rc = terminal.run();
        }
    }
    WSACleanup();
    return rc;
}
