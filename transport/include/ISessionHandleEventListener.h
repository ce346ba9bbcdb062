#pragma once
// What a session handle tells the session logic of its session: a terminal left (event 1, the
// own terminal id when this terminal lost the session), or the transport failed for good
// (events 2 and 3). Called on the thread that made the handle, the user-interface thread.
#include <string>

class ISessionHandleEventListener {
public:
    virtual ~ISessionHandleEventListener() {}
    virtual void OnSessionHandleEvent(int eventId, const std::string& terminalId) = 0;
};
