#pragma once
// What the DirectPlay transport tells the observers of its session: an event id and a terminal
// id, carried as one text, the decimal id, one blank and the terminal id.
#include <string>

class CSessionEvent {
public:
    // A terminal left the session (the own id: this terminal lost it).
    static constexpr int SESSION_EVENT_SESSION_OUT = 1;
    // The transport failed at run time; the terminal id is empty.
    static constexpr int SESSION_EVENT_FATAL_TROUBLE = 2;
    // Not raised by the transport; the session director handles it as the one above.
    static constexpr int SESSION_EVENT_FATAL_TROUBLE_REBOOT = 3;

    static std::string makeSessionHandleEventText(int eventId, const std::string& terminalId);
    // The id is the integer value of the text up to the first blank (as atoi reads it), the
    // terminal id everything after that blank, blanks included; without a blank it is empty.
    static void parseSessionHandleEventText(const std::string& text, int* eventId, std::string* terminalId);
};
