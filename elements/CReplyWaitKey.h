#pragma once
// What a querying thread waits on: awaiting until a reply is set, then answered. The first
// reply wins; the state is checked under the key's monitor, so a reply that comes before the
// thread begins to wait still ends the wait at once.
#include "CJObject.h"

#include <windows.h>

class IMessage;

class CReplyWaitKey : public CJObject {
public:
    explicit CReplyWaitKey(unsigned serialNum);

    unsigned getSerialNum() const { return serialNum_; }
    // Sets the reply and wakes the waiter; false (nothing kept) when a reply is already set.
    bool deliver(IMessage* reply);
    // Returns once a reply is set or timeoutMs have passed.
    void await(DWORD timeoutMs);
    // The reply (NULL if none came), handed to the caller. Only once nobody can deliver any more.
    IMessage* takeReply();

private:
    unsigned serialNum_;
    IMessage* reply_;
};
