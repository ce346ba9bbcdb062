#pragma once
// Stand-ins for the member list's tests: a broadcast session that records its receivers, a
// lookup service that answers from a table, an observer that notes the notices, and copies of
// the list on the in-process session.
#include "CTerminalGroup.h"
#include "IBroadcastSessionHandle.h"
#include "ILookupServiceHandle.h"
#include "IObserver.h"
#include "SessionHub.h"
#include "TestSupport.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern const char GROUP_ID[];
extern const char MASTER_IP[];

// Receivers as "<ip> <port>" by terminal id, and every call as "set <id> <ip> <port>" or
// "remove <id>".
class RecordingBroadcast : public IBroadcastSessionHandle {
public:
    void setAddress(const std::string& terminalId, const std::string& ipAddress, int portNum) override;
    void removeAddress(const std::string& terminalId) override;
    void plugIn(const std::string&, CElement*) override {}
    void plugOut(const std::string&) override {}
    void close() override {}

    std::map<std::string, std::string> receivers();
    std::vector<std::string> calls();
    // Run inside each call, before it is recorded, with the call's text.
    void setProbe(std::function<void(const std::string&)> probe);
    // Whether any call named the terminal.
    bool named(const std::string& terminalId);

private:
    void probe(const std::string& call);

    std::mutex lock_;
    std::map<std::string, std::string> receivers_;
    std::vector<std::string> calls_;
    std::function<void(const std::string&)> probe_;
};

// Records by terminal id; an id in failing throws CIOException, one absent is not found.
class TableLookup : public ILookupServiceHandle {
public:
    void setAddress(const std::string& terminalId, const std::string& ipAddress);
    void setFailing(const std::string& terminalId);
    int finds();

    void regist(std::string, CTerminalInfo) override {}
    void remove(std::string) override {}
    void find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found) override;
    CTerminalInfo find(std::string terminalId) override;
    void enumByCategory(const std::vector<std::string>&, std::vector<std::string>&) override {}
    void enumByCategory(std::string, std::vector<std::string>&) override {}
    void enumByIpAddress(const std::vector<std::string>&, std::vector<std::string>&) override {}
    void enumByIpAddress(std::string, std::vector<std::string>&) override {}
    void enumByPortNum(unsigned, std::vector<std::string>&) override {}
    bool isNotFound(const CTerminalInfo& info) override { return !info.isValid(); }

private:
    std::mutex lock_;
    std::map<std::string, std::string> addresses_;
    std::set<std::string> failing_;
    int finds_ = 0;
};

// Notes each notice; inside update it may run a probe, whose text is noted after the notice.
class NoticeLog : public IObserver {
public:
    void update(CObservable* source, std::string argument) override;
    std::vector<std::string> notices();
    int count(const std::string& notice);
    void clear();
    void setProbe(std::function<std::string()> probe);

private:
    std::mutex lock_;
    std::vector<std::string> notices_;
    std::function<std::string()> probe_;
};

// "NTC_mark" counts the calls that reached it: once a mark posted (or sent) after other calls
// has run, they have run too.
class TestGroup : public CTerminalGroup {
public:
    TestGroup(const std::string& elementId, bool master, const std::string& selfTerminalId, int selfPortNum,
              const std::string& masterTerminalId, const std::string& masterIpAddress,
              ILookupServiceHandle* lookupServiceHandle, IBroadcastSessionHandle* broadcastSH);
    int marks() const { return marks_; }
    using CTerminalGroup::addMember;
    using CTerminalGroup::currentTAMDesc;
    using CTerminalGroup::removeMember;
    using CTerminalGroup::updateMemberDesc;

    // A call as the handler delivers it: the text's bytes, from the caller terminal.
    void deliver(const std::string& method, const std::string& text, const std::string& caller = "PEER");
    void deliverBytes(const std::string& method, const unsigned char* bytes, int size, const std::string& caller);
    // The TAM as a map, read back from its description.
    std::map<std::string, std::string> tam();

private:
    void NTC_mark() { ++marks_; }
    std::atomic<int> marks_{0};
};

// The receivers a copy must have for the given TAM: every other member with a dotted address
// and a port 1..65535; on a slave the host at the master ip.
std::map<std::string, std::string> expectedReceivers(const std::map<std::string, std::string>& tam,
                                                     const std::string& self, const std::string& masterId,
                                                     const std::string& masterIp);

// A copy that is neither started nor plugged in, with a broadcast session and an observer.
struct LoneCopy {
    LoneCopy(bool master, const std::string& self = "SELF", const std::string& masterId = "HOST");
    RecordingBroadcast broadcast;
    TableLookup lookup;
    NoticeLog notices;
    TestGroup group;
};

// Copies of the list on a hub session: the host's master (terminal "HOST") and slaves. Every
// terminal's copy has its own broadcast session and observer; the master has the lookup.
class GroupSession {
public:
    struct Terminal {
        std::string id;
        int port;
        RecordingBroadcast broadcast;
        NoticeLog notices;
        std::unique_ptr<TestGroup> group;
    };

    // With routeLost, a joined terminal that leaves is posted to the master as the director does.
    explicit GroupSession(bool routeLost = true);
    ~GroupSession();

    Terminal& host() { return *terminals_.at("HOST"); }
    // Joins, starts and plugs in a slave; with wait, until it is synchronised.
    Terminal& join(const std::string& terminalId, bool wait = true);
    Terminal& terminal(const std::string& terminalId) { return *terminals_.at(terminalId); }
    bool has(const std::string& terminalId) { return terminals_.count(terminalId) != 0; }
    // Closes the terminal's session, ends and deletes its copy.
    void leave(const std::string& terminalId);
    void post(const std::string& terminalId, const std::string& method);
    void post(const std::string& terminalId, const std::string& method, const std::string& text);
    // The hub's traffic of the list: "<from>><to> <method>".
    std::vector<std::string> traffic();
    std::vector<std::string> ids();
    // Returns once every call posted to a copy, and every call those led to between the host and
    // the joined terminals, has run: marks go round twice, locally and over the session.
    bool flush();

    TableLookup lookup;
    SessionHub hub;

private:
    std::map<std::string, std::unique_ptr<Terminal>> terminals_;
};

// Whether another thread gets an answer from the question within the time: false when it stays
// blocked (a lock of the list held by the caller).
bool answersFromAnotherThread(std::function<bool()> question, bool* answer, DWORD timeoutMs = 5000);

// Error lines of the capture that hold the piece.
int errorLines(const TraceCapture& capture, const std::string& piece);
