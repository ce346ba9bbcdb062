#include "HubTerminal.h"

#include "CElement.h"
#include "CGuid.h"
#include "CIllegalArgumentException.h"
#include "CIllegalStateException.h"
#include "CMessageGate.h"
#include "CMethodCallBlock.h"
#include "CMethodCallMessage.h"
#include "CProxyElement.h"
#include "SessionHub.h"

#include <objbase.h>

namespace {

const char SCOPE[] = "HubTerminal";
// Receiver of the mark that close() sends after the last plug-out: when it reaches the output,
// everything queued before it has left. It never reaches the hub.
const char FLUSH_MARK[] = "@HUB_FLUSH_MARK";
const DWORD FLUSH_TIMEOUT_MS = 20000;

} // namespace

HubTerminal::HubTerminal(SessionHub& hub, const std::string& terminalId, bool host, DWORD queryTimeoutMs)
    : hub_(hub), terminalId_(terminalId), host_(host), name_(host ? "LC" : "RM"), decoder_(&inbox_),
      encoder_(this), gate_(new CMessageGate(&decoder_, &encoder_, nullptr, nullptr, name_ + "-MSG_GATE")),
      proxy_(new CProxyElement(gate_, terminalId, queryTimeoutMs)), sent_(CreateEventA(NULL, TRUE, FALSE, NULL))
{
    gate_->addListener(CProxyElement::getProxyId(), proxy_);
}

HubTerminal::~HubTerminal()
{
    close();
    gate_->stop();
    gate_->removeListener(CProxyElement::getProxyId());
    delete proxy_;
    delete gate_;
    CloseHandle(sent_);
}

void HubTerminal::plugIn(const std::string&, CElement* element)
{
    CTrace::scopedAssertTrue(element != nullptr, SCOPE, " plugIn(): no element", -1);
    std::lock_guard<std::mutex> hold(lock_);
    if (!open_)
        throw CIllegalStateException(" plugIn(): the session of [" + terminalId_ + "] is closed");
    std::string id = element->getElementId();
    for (auto& entry : plugged_)
        if (entry.first == id)
            throw CIllegalArgumentException(" plugIn(): [" + id + "] is plugged in already");
    element->plugIn(terminalId_, gate_, proxy_, name_);
    plugged_.emplace_back(id, element);
}

void HubTerminal::plugOut(const std::string& elementId)
{
    CElement* element = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (auto entry = plugged_.begin(); entry != plugged_.end(); ++entry) {
            if (entry->first == elementId) {
                element = entry->second;
                plugged_.erase(entry);
                break;
            }
        }
    }
    if (element == nullptr)
        throw CIllegalArgumentException(" plugOut(): [" + elementId + "] is not plugged in");
    element->plugOut();
}

std::vector<std::string> HubTerminal::pluggedIds()
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> ids;
    for (auto& entry : plugged_)
        ids.push_back(entry.first);
    return ids;
}

std::string HubTerminal::createGuidString()
{
    GUID guid;
    if (FAILED(CoCreateGuid(&guid)))
        CTrace::scopedFatalError(SCOPE, " createGuidString(): no GUID could be made", -1);
    return CGuid::guidToString(guid);
}

void HubTerminal::close()
{
    if (closed_)
        return;
    closed_ = true;
    // Plug-outs run outside the lock: a space's own plug-out plugs its members out here.
    for (const std::string& id : pluggedIds()) {
        bool filed = false;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (auto& entry : plugged_)
                filed = filed || entry.first == id;
        }
        if (filed) {
            CTrace::trace(SCOPE, " close(): forced plug-out of [" + id + "]", 0);
            plugOut(id);
        }
    }
    bool wasCut;
    {
        std::lock_guard<std::mutex> hold(lock_);
        open_ = false;
        wasCut = cut_;
    }
    if (!wasCut)
        waitUntilSent();
    hub_.detach(*this);
    inbox_.close();
}

void HubTerminal::cut()
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (cut_)
            return;
        cut_ = true;
    }
    hub_.detach(*this);
    inbox_.close();
}

void HubTerminal::waitUntilSent()
{
    ResetEvent(sent_);
    gate_->notifyMessage(CMethodCallMessage::createRemoteCall(FLUSH_MARK, "-", terminalId_, "-", "flush"));
    if (WaitForSingleObject(sent_, FLUSH_TIMEOUT_MS) != WAIT_OBJECT_0)
        CTrace::scopedError(SCOPE, " close(): what [" + terminalId_ + "] sent did not leave in time", -1);
}

// The gate's send thread writes each encoded message here.
void HubTerminal::write(const unsigned char* data, int size)
{
    if (CMethodCallBlock::peekReceiverTerminalId(data, size) == FLUSH_MARK) {
        SetEvent(sent_);
        return;
    }
    hub_.route(*this, data, size);
}
