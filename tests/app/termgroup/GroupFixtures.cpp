#include "GroupFixtures.h"

#include "CIOException.h"
#include "CLocalMethod.h"
#include "CProxyElement.h"

#include <algorithm>
#include <sstream>
#include <thread>

const char GROUP_ID[] = "D1D9B0A0-B266-11d4-8727-0000F460D121";
const char MASTER_IP[] = "10.0.0.100";

void RecordingBroadcast::setProbe(std::function<void(const std::string&)> probe)
{
    std::lock_guard<std::mutex> hold(lock_);
    probe_ = std::move(probe);
}

void RecordingBroadcast::probe(const std::string& call)
{
    std::function<void(const std::string&)> probe;
    {
        std::lock_guard<std::mutex> hold(lock_);
        probe = probe_;
    }
    if (probe)
        probe(call);
}

void RecordingBroadcast::setAddress(const std::string& terminalId, const std::string& ipAddress, int portNum)
{
    probe("set " + terminalId);
    std::lock_guard<std::mutex> hold(lock_);
    receivers_[terminalId] = ipAddress + " " + std::to_string(portNum);
    calls_.push_back("set " + terminalId + " " + ipAddress + " " + std::to_string(portNum));
}

void RecordingBroadcast::removeAddress(const std::string& terminalId)
{
    probe("remove " + terminalId);
    std::lock_guard<std::mutex> hold(lock_);
    receivers_.erase(terminalId);
    calls_.push_back("remove " + terminalId);
}

std::map<std::string, std::string> RecordingBroadcast::receivers()
{
    std::lock_guard<std::mutex> hold(lock_);
    return receivers_;
}

std::vector<std::string> RecordingBroadcast::calls()
{
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
}

bool RecordingBroadcast::named(const std::string& terminalId)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::string& call : calls_) {
        size_t from = call.find(' ') + 1;
        if (call.compare(from, terminalId.size(), terminalId) == 0
            && (call.size() == from + terminalId.size() || call[from + terminalId.size()] == ' '))
            return true;
    }
    return false;
}

void TableLookup::setAddress(const std::string& terminalId, const std::string& ipAddress)
{
    std::lock_guard<std::mutex> hold(lock_);
    addresses_[terminalId] = ipAddress;
}

void TableLookup::setFailing(const std::string& terminalId)
{
    std::lock_guard<std::mutex> hold(lock_);
    failing_.insert(terminalId);
}

int TableLookup::finds()
{
    std::lock_guard<std::mutex> hold(lock_);
    return finds_;
}

void TableLookup::find(const std::vector<std::string>& terminalIds, std::vector<CTerminalInfo>& found)
{
    found.clear();
    for (const std::string& id : terminalIds)
        found.push_back(find(id));
}

CTerminalInfo TableLookup::find(std::string terminalId)
{
    std::lock_guard<std::mutex> hold(lock_);
    ++finds_;
    if (failing_.count(terminalId))
        throw CIOException(" the lookup of [" + terminalId + "] failed");
    CTerminalInfo info;
    auto entry = addresses_.find(terminalId);
    if (entry != addresses_.end()) {
        info = CTerminalInfo("TAVELIN", entry->second, 0, "");
        info.setValid();
    }
    return info;
}

void NoticeLog::update(CObservable*, std::string argument)
{
    std::function<std::string()> probe;
    {
        std::lock_guard<std::mutex> hold(lock_);
        probe = probe_;
    }
    std::string probed = probe ? " " + probe() : "";
    std::lock_guard<std::mutex> hold(lock_);
    notices_.push_back(argument + probed);
}

std::vector<std::string> NoticeLog::notices()
{
    std::lock_guard<std::mutex> hold(lock_);
    return notices_;
}

int NoticeLog::count(const std::string& notice)
{
    std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(std::count(notices_.begin(), notices_.end(), notice));
}

void NoticeLog::clear()
{
    std::lock_guard<std::mutex> hold(lock_);
    notices_.clear();
}

void NoticeLog::setProbe(std::function<std::string()> probe)
{
    std::lock_guard<std::mutex> hold(lock_);
    probe_ = std::move(probe);
}

TestGroup::TestGroup(const std::string& elementId, bool master, const std::string& selfTerminalId, int selfPortNum,
                     const std::string& masterTerminalId, const std::string& masterIpAddress,
                     ILookupServiceHandle* lookupServiceHandle, IBroadcastSessionHandle* broadcastSH)
    : CTerminalGroup(elementId, master, selfTerminalId, selfPortNum, masterTerminalId, masterIpAddress,
                     lookupServiceHandle, broadcastSH)
{
    registerMethod("NTC_mark", &TestGroup::NTC_mark);
}

void TestGroup::deliver(const std::string& method, const std::string& text, const std::string& caller)
{
    setCallerTerminal(&caller);
    if (method == "endSync" || method == "LOC_addSelf" || method == "LOC_removeSelf")
        executeMethod(method);
    else
        executeMethodBuf(method, static_cast<int>(text.size()), reinterpret_cast<const unsigned char*>(text.data()));
    setCallerTerminal(nullptr);
}

void TestGroup::deliverBytes(const std::string& method, const unsigned char* bytes, int size,
                             const std::string& caller)
{
    setCallerTerminal(&caller);
    executeMethodBuf(method, size, bytes);
    setCallerTerminal(nullptr);
}

std::map<std::string, std::string> TestGroup::tam()
{
    std::map<std::string, std::string> entries;
    std::string desc = currentTAMDesc();
    const std::string separator = MEMBER_SEP;
    size_t start = 0;
    while (start < desc.size()) {
        size_t end = desc.find(separator, start);
        if (end == std::string::npos)
            end = desc.size();
        std::string member = desc.substr(start, end - start);
        size_t blank = member.find(' ');
        entries[member.substr(0, blank)] = blank == std::string::npos ? "" : member.substr(blank + 1);
        start = end + separator.size();
    }
    return entries;
}

namespace {

bool isDotted(const std::string& text)
{
    int parts = 0;
    std::string part;
    std::istringstream in(text);
    if (text.empty() || text.back() == '.')
        return false;
    while (std::getline(in, part, '.')) {
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos
            || std::stoi(part) > 255)
            return false;
        ++parts;
    }
    return parts == 4;
}

} // namespace

std::map<std::string, std::string> expectedReceivers(const std::map<std::string, std::string>& tam,
                                                     const std::string& self, const std::string& masterId,
                                                     const std::string& masterIp)
{
    std::map<std::string, std::string> receivers;
    for (const auto& entry : tam) {
        if (entry.first == self)
            continue;
        std::string ip = entry.second.substr(0, entry.second.find(' '));
        std::string portField;
        size_t blank = entry.second.find(' ');
        if (blank != std::string::npos)
            portField = entry.second.substr(blank + 1, entry.second.find(' ', blank + 1) - blank - 1);
        long long port = 0;
        size_t at = 0;
        while (at < portField.size() && isdigit(static_cast<unsigned char>(portField[at])) && port < 100000)
            port = port * 10 + (portField[at++] - '0');
        if (!masterId.empty() && entry.first == masterId)
            ip = masterIp;
        if (isDotted(ip) && port >= 1 && port <= 65535)
            receivers[entry.first] = ip + " " + std::to_string(port);
    }
    return receivers;
}

LoneCopy::LoneCopy(bool master, const std::string& self, const std::string& masterId)
    : group(GROUP_ID, master, self, 5000, masterId, MASTER_IP, master ? &lookup : nullptr, &broadcast)
{
    group.addObserver(&notices);
}

GroupSession::GroupSession(bool routeLost)
{
    auto terminal = std::make_unique<Terminal>();
    terminal->id = "HOST";
    terminal->port = 5000;
    terminal->group.reset(new TestGroup(GROUP_ID, true, "HOST", 5000, "", "", &lookup, &terminal->broadcast));
    terminal->group->addObserver(&terminal->notices);
    terminal->group->start("M_TERMGP");
    hub.host().plugIn("", terminal->group.get());
    std::string objectId = terminal->group->getObjectId();
    terminals_["HOST"] = std::move(terminal);
    if (routeLost)
        hub.setSessionOutListener([objectId](const std::string& terminalId) {
            CLocalMethod::postMethodStr(objectId, "LOC_removeSessionLostMember", terminalId);
        });
}

GroupSession::~GroupSession()
{
    hub.setSessionOutListener(nullptr);
    std::vector<std::string> joined;
    for (auto& entry : terminals_)
        if (entry.first != "HOST")
            joined.push_back(entry.first);
    for (const std::string& id : joined)
        leave(id);
    hub.host().close();
    host().group->end();
}

GroupSession::Terminal& GroupSession::join(const std::string& terminalId, bool wait)
{
    static int ports = 5001;
    auto terminal = std::make_unique<Terminal>();
    terminal->id = terminalId;
    terminal->port = ports++;
    terminal->group.reset(new TestGroup(GROUP_ID, false, terminalId, terminal->port, "HOST", MASTER_IP, nullptr,
                                        &terminal->broadcast));
    terminal->group->addObserver(&terminal->notices);
    terminal->group->start("S_TERMGP");
    HubTerminal& hubTerminal = hub.join(terminalId);
    Terminal& made = *terminal;
    terminals_[terminalId] = std::move(terminal);
    hubTerminal.plugIn("", made.group.get());
    if (wait)
        waitUntil([&] { return made.group->isSynchronized(); });
    return made;
}

void GroupSession::leave(const std::string& terminalId)
{
    hub.leave(terminalId);
    terminals_.at(terminalId)->group->end();
    terminals_.erase(terminalId);
}

void GroupSession::post(const std::string& terminalId, const std::string& method)
{
    CLocalMethod::postMethod(terminal(terminalId).group->getObjectId(), method);
}

void GroupSession::post(const std::string& terminalId, const std::string& method, const std::string& text)
{
    CLocalMethod::postMethodStr(terminal(terminalId).group->getObjectId(), method, text);
}

std::vector<std::string> GroupSession::traffic()
{
    std::vector<std::string> lines;
    const std::string id = GROUP_ID;
    for (const std::string& line : hub.traffic()) {
        size_t blank = line.find(' ');
        if (line.compare(blank + 1, id.size() + 1, id + " ") == 0)
            lines.push_back(line.substr(0, blank) + " " + line.substr(blank + id.size() + 2));
    }
    return lines;
}

std::vector<std::string> GroupSession::ids()
{
    std::vector<std::string> all;
    for (auto& entry : terminals_)
        all.push_back(entry.first);
    return all;
}

bool GroupSession::flush()
{
    for (int round = 0; round < 2; ++round) {
        std::map<std::string, int> before;
        for (auto& entry : terminals_) {
            before[entry.first] = entry.second->group->marks();
            post(entry.first, "NTC_mark");
        }
        for (auto& entry : terminals_) {
            TestGroup* group = entry.second->group.get();
            int expected = ++before[entry.first];
            if (!waitUntil([&] { return group->marks() >= expected; }))
                return false;
        }
        // Behind what each joined terminal sent to the host, then what the host sent to each.
        TestGroup* master = host().group.get();
        int hostExpected = master->marks();
        for (auto& entry : terminals_) {
            if (entry.first == "HOST")
                continue;
            hub.terminal(entry.first).proxy().sendNotice("HOST", GROUP_ID, "NTC_mark");
            ++hostExpected;
        }
        if (!waitUntil([&] { return master->marks() >= hostExpected; }))
            return false;
        for (auto& entry : terminals_) {
            if (entry.first == "HOST")
                continue;
            TestGroup* group = entry.second->group.get();
            int expected = group->marks() + 1;
            hub.host().proxy().sendNotice(entry.first, GROUP_ID, "NTC_mark");
            if (!waitUntil([&] { return group->marks() >= expected; }))
                return false;
        }
    }
    return true;
}

bool answersFromAnotherThread(std::function<bool()> question, bool* answer, DWORD timeoutMs)
{
    // Left running when it blocks: the test has failed then, and it ends once the lock is free.
    auto state = std::make_shared<std::atomic<int>>(-1);
    std::thread([question, state] { *state = question() ? 1 : 0; }).detach();
    if (!waitUntil([&] { return *state != -1; }, timeoutMs))
        return false;
    *answer = *state == 1;
    return true;
}

int errorLines(const TraceCapture& capture, const std::string& piece)
{
    std::istringstream in(capture.text());
    std::string line;
    int count = 0;
    while (std::getline(in, line))
        if (line.find("ERROR: ") != std::string::npos && line.find(piece) != std::string::npos)
            ++count;
    return count;
}
