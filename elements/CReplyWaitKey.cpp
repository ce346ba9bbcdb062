#include "CReplyWaitKey.h"

#include "CMonitorHold.h"

namespace {

const char SCOPE[] = "CReplyWaitKey";

enum Site {
    SITE_DELIVER = 1,
    SITE_AWAIT,
    SITE_TAKE,
};

} // namespace

CReplyWaitKey::CReplyWaitKey(unsigned serialNum) : serialNum_(serialNum), reply_(nullptr) {}

bool CReplyWaitKey::deliver(IMessage* reply)
{
    CMonitorHold hold(*this, SITE_DELIVER, SCOPE);
    if (reply_ != nullptr)
        return false;
    reply_ = reply;
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, " deliver(): waking the waiting thread [" + std::to_string(serialNum_) + "]", 0);
    notify();
    return true;
}

void CReplyWaitKey::await(DWORD timeoutMs)
{
    CMonitorHold hold(*this, SITE_AWAIT, SCOPE);
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (reply_ == nullptr) {
        ULONGLONG now = GetTickCount64();
        if (now >= deadline)
            break;
        wait(static_cast<DWORD>(deadline - now));
    }
}

IMessage* CReplyWaitKey::takeReply()
{
    CMonitorHold hold(*this, SITE_TAKE, SCOPE);
    IMessage* reply = reply_;
    reply_ = nullptr;
    return reply;
}
