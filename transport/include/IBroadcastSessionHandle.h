#pragma once
// The UDP session beside the DirectPlay session: its elements send notices as single datagrams
// straight to the terminals whose addresses the session logic registered.
#include <string>

class CElement;

class IBroadcastSessionHandle {
public:
    virtual ~IBroadcastSessionHandle() {}

    // Where the terminal receives datagrams; replaces what was registered for it before.
    virtual void setAddress(const std::string& terminalId, const std::string& ipAddress, int portNum) = 0;
    // Forgets the terminal's address; an unknown id changes nothing.
    virtual void removeAddress(const std::string& terminalId) = 0;
    // Plugs the element in under its own element id (the text is not read):
    // CIllegalArgumentException when an element with that id is in already,
    // CIllegalStateException after close.
    virtual void plugIn(const std::string& text, CElement* element) = 0;
    // Returns after the element's onPlugOut has run; CIllegalArgumentException for an id that
    // is not plugged in.
    virtual void plugOut(const std::string& elementId) = 0;
    // Stops the session's threads; elements still plugged in stay so until plugged out.
    virtual void close() = 0;
};
