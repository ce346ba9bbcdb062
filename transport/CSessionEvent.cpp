#include "CSessionEvent.h"

#include "CInteger.h"

std::string CSessionEvent::makeSessionHandleEventText(int eventId, const std::string& terminalId)
{
    return CInteger::toString(eventId) + " " + terminalId;
}

void CSessionEvent::parseSessionHandleEventText(const std::string& text, int* eventId, std::string* terminalId)
{
    size_t blank = text.find(' ');
    *eventId = CInteger::parseInt(text.substr(0, blank));
    *terminalId = blank == std::string::npos ? std::string() : text.substr(blank + 1);
}
