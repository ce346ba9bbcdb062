#pragma once
// A session over one transport, into which elements are plugged. The session network and the
// broadcast network implement it; the director opens and closes the session, and the director
// and the shared spaces plug elements in and out.
#include <string>

class CElement;
class ISessionHandleEventListener;

class ISessionHandle {
public:
    virtual ~ISessionHandle() {}

    // Hosts a new session of the application and returns the session's instance GUID as text.
    // Session events go to the listener from the open on.
    virtual std::string openLocalSession(const std::string& applicationGuid, ISessionHandleEventListener* listener) = 0;
    // Joins the session with that instance GUID on that host.
    virtual void openRemoteSession(const std::string& applicationGuid, const std::string& sessionGuid,
                                   const std::string& hostIpAddress, ISessionHandleEventListener* listener) = 0;
    // Plugs out every element still plugged in, then ends the session.
    virtual void close() = 0;
    // Plugs the element in under its own element id (the text is not read):
    // CIllegalArgumentException when an element with that id is in already,
    // CIllegalStateException when the session is neither open nor being joined.
    virtual void plugIn(const std::string& text, CElement* element) = 0;
    // Returns after the element's onPlugOut has run; CIllegalArgumentException for an id that
    // is not plugged in.
    virtual void plugOut(const std::string& elementId) = 0;
    // A new GUID as "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X".
    virtual std::string createGuidString() = 0;
};
