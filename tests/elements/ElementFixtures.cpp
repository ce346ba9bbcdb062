#include "ElementFixtures.h"

#include "CIllegalArgumentException.h"
#include "CInteger.h"
#include "CJObject.h"
#include "CJString.h"
#include "CNullPointerException.h"

#include <algorithm>
#include <chrono>

void RunLog::enter(MethodRun run)
{
    std::lock_guard<std::mutex> hold(lock_);
    runs_.push_back(std::move(run));
    mostAtOnce_ = std::max(mostAtOnce_, ++active_);
    changed_.notify_all();
}

void RunLog::leave()
{
    std::lock_guard<std::mutex> hold(lock_);
    --active_;
}

std::vector<MethodRun> RunLog::runs()
{
    std::lock_guard<std::mutex> hold(lock_);
    return runs_;
}

std::vector<std::string> RunLog::methods()
{
    std::vector<std::string> names;
    for (const MethodRun& run : runs())
        names.push_back(run.method);
    return names;
}

bool RunLog::waitFor(size_t count, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return runs_.size() >= count; });
}

bool RunLog::waitForArgument(const std::string& argument, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] {
        return std::any_of(runs_.begin(), runs_.end(), [&](const MethodRun& run) { return run.argument == argument; });
    });
}

int RunLog::mostAtOnce()
{
    std::lock_guard<std::mutex> hold(lock_);
    return mostAtOnce_;
}

ProbeElement::ProbeElement(RunLog& journal, const std::string& elementId) : journal_(journal)
{
    setElementId(elementId);
    registerMethod("NTC_noArg", &ProbeElement::noArg);
    registerMethod("NTC_objArg", &ProbeElement::objArg);
    registerMethod("NTC_bufArg", &ProbeElement::bufArg);
    registerMethod("NTC_strArg", &ProbeElement::strArg);
    registerMethod("QUE_noArg", &ProbeElement::syncNoArg);
    registerMethod("QUE_objArg", &ProbeElement::syncObjArg);
    registerMethod("QUE_bufArg", &ProbeElement::syncBufArg);
    registerMethod("QUE_strArg", &ProbeElement::syncStrArg);
    registerMethod("QUE_strRv", &ProbeElement::syncStrRv);
    registerMethod("QUE_call", &ProbeElement::syncCall);
}

ProbeElement::~ProbeElement() = default;

void ProbeElement::holdIn(const std::string& method, Signal& release)
{
    hook = [method, &release](ProbeElement&, const std::string& running, const std::string&) -> ISerializable* {
        if (running == method)
            release.waitFor(10000);
        return nullptr;
    };
}

ISerializable* ProbeElement::run(const std::string& method, const std::string& argument)
{
    std::string caller;
    try {
        caller = getCallerTerminal();
    } catch (CNullPointerException&) {
        caller = "<unset>";
    }
    journal_.enter({method, argument, GetCurrentThreadId(), caller});
    struct Leave {
        RunLog& journal;
        ~Leave() { journal.leave(); }
    } leave{journal_};
    return hook ? hook(*this, method, argument) : nullptr;
}

void ProbeElement::onPlugIn(const std::string& text) { run("onPlugIn", text); }
void ProbeElement::onPlugOut(const std::string& text) { run("onPlugOut", text); }
void ProbeElement::noArg() { run("NTC_noArg", ""); }

void ProbeElement::objArg(ISerializable* object)
{
    std::string text = object == nullptr ? std::string("NULL") : dynamic_cast<CJObject*>(object)->toString();
    delete object;
    run("NTC_objArg", text);
}

void ProbeElement::bufArg(int size, const unsigned char* bytes)
{
    run("NTC_bufArg", size > 0 ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string());
}

void ProbeElement::strArg(const std::string& text) { run("NTC_strArg", text); }

ISerializable* ProbeElement::syncNoArg()
{
    run("QUE_noArg", "");
    return new CInteger(7);
}

ISerializable* ProbeElement::syncObjArg(ISerializable* object)
{
    run("QUE_objArg", object == nullptr ? std::string("NULL") : dynamic_cast<CJObject*>(object)->toString());
    return object;
}

ISerializable* ProbeElement::syncBufArg(int size, const unsigned char* bytes)
{
    run("QUE_bufArg", size > 0 ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string());
    return new CInteger(size);
}

ISerializable* ProbeElement::syncStrArg(const std::string& text)
{
    run("QUE_strArg", text);
    return new CJString("got " + text);
}

std::string ProbeElement::syncStrRv()
{
    run("QUE_strRv", "");
    return "answer";
}

ISerializable* ProbeElement::syncCall(const std::string& text)
{
    return run("QUE_call", text);
}

ProbeSharedElement::ProbeSharedElement(RunLog& journal, CopyRole role) : ProbeElement(journal, "SHARED-1"), role_(role)
{
    registerMethod("initializeSlave", &ProbeSharedElement::initializeSlave);
}

void ProbeSharedElement::initializeSlave()
{
    run("initializeSlave", "");
}

Outbox::~Outbox()
{
    for (IMessage* message : messages_)
        IMessage::release(message);
}

void Outbox::notifyMessage(IMessage* message)
{
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(message);
    changed_.notify_all();
}

bool Outbox::waitFor(size_t count, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return messages_.size() >= count; });
}

size_t Outbox::size()
{
    std::lock_guard<std::mutex> hold(lock_);
    return messages_.size();
}

CMethodCallMessage* Outbox::at(size_t index)
{
    std::lock_guard<std::mutex> hold(lock_);
    return index < messages_.size() ? dynamic_cast<CMethodCallMessage*>(messages_[index]) : nullptr;
}

TestSessionHandle::TestSessionHandle(const std::string& terminalId, IMessageSource* source, CProxyElement* proxy)
    : terminalId(terminalId), source_(source), proxy_(proxy)
{
}

void TestSessionHandle::close()
{
    std::map<std::string, CElement*> plugged;
    {
        std::lock_guard<std::mutex> hold(lock_);
        plugged.swap(plugged_);
    }
    for (auto& entry : plugged)
        entry.second->plugOut();
}

void TestSessionHandle::plugIn(const std::string&, CElement* element)
{
    std::lock_guard<std::mutex> hold(lock_);
    std::string id = element->getElementId();
    if (plugged_.count(id) != 0)
        throw CIllegalArgumentException(" already plugged in: " + id);
    element->plugIn(terminalId, source_, proxy_, "FAKE");
    plugged_[id] = element;
}

void TestSessionHandle::plugOut(const std::string& elementId)
{
    CElement* element;
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto entry = plugged_.find(elementId);
        if (entry == plugged_.end())
            throw CIllegalArgumentException(" not plugged in: " + elementId);
        element = entry->second;
        plugged_.erase(entry);
    }
    element->plugOut();
}

std::string TestSessionHandle::createGuidString()
{
    std::lock_guard<std::mutex> hold(lock_);
    char text[40];
    snprintf(text, sizeof(text), "00000000-0000-0000-0000-%012d", ++guids_);
    return text;
}

// The base keeps the addresses of members that are made after it; it uses them only later.
FakeSession::FakeSession(const std::string& terminalId, DWORD queryTimeoutMs)
    : TestSessionHandle(terminalId, &source, &proxy), proxy(&outbox, terminalId, queryTimeoutMs)
{
}

namespace {

CMethodCallMessage* numbered(CMethodCallMessage* message, unsigned char modifier, unsigned serial)
{
    message->setModifier(modifier);
    message->setSerialNum(serial);
    return message;
}

} // namespace

CMethodCallMessage* remoteCall(const std::string& recTermId, const std::string& recElemId, const std::string& method,
                               unsigned char modifier, unsigned serial)
{
    return numbered(CMethodCallMessage::createRemoteCall(recTermId, recElemId, "PEER", CProxyElement::getProxyId(),
                                                         method),
                    modifier, serial);
}

CMethodCallMessage* remoteCallStr(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, const std::string& text, unsigned char modifier,
                                  unsigned serial)
{
    return numbered(CMethodCallMessage::createRemoteCall(recTermId, recElemId, "PEER", CProxyElement::getProxyId(),
                                                         method, static_cast<unsigned>(text.size()), text.data()),
                    modifier, serial);
}

CMethodCallMessage* remoteCallObj(const std::string& recTermId, const std::string& recElemId,
                                  const std::string& method, ISerializable* object, unsigned char modifier,
                                  unsigned serial)
{
    return numbered(CMethodCallMessage::createRemoteCall(recTermId, recElemId, "PEER", CProxyElement::getProxyId(),
                                                         method, object),
                    modifier, serial);
}
