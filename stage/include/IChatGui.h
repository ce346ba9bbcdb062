#pragma once
// The chat of one content, as the content element and the content window drive it: the
// speakers, each introduced by its speaker data (terminal id, reference number, nickname), and
// the history of their lines.
#include <string>
#include <string_view>

class CChatInput;
class CChatWnd;
class CElement;

class IChatGui {
public:
    virtual ~IChatGui() {}

    // The three fields joined by the speaker data separator, the nickname last (it may hold
    // anything, the separator too).
    virtual std::string makeSpeakerData(const std::string& terminalId, const std::string& nickname,
                                        const std::string& referNum) = 0;
    // Field 0, the rest after the second separator, field 1.
    virtual void parseSpeakerData(std::string_view data, std::string* terminalId, std::string* nickname,
                                  std::string* referNum) = 0;
    // A terminal id already known leaves its speaker as it was.
    virtual void addSpeaker(const std::string& speakerData) = 0;
    virtual void removeSpeaker(const std::string& terminalId) = 0;
    // The speaker's line, in its reference number's colour, to the history and the log.
    virtual void addSpeech(const std::string& terminalId, const std::string& text) = 0;
    // The chat window's title and the log's session name; clears the history.
    virtual void setSession(const std::string& name) = 0;
    // CIllegalStateException when a log is open already or the file cannot be opened.
    virtual void openLogFile(const std::string& fileName) = 0;
    // CIllegalStateException when no log is open.
    virtual void closeLogFile() = 0;
    // Places the chat window beside the content window and shows or hides it.
    virtual void setLocation(bool show) = 0;
    virtual void notifyDisplayDestroyed() = 0;
    // The element whose object id the input line posts its lines to.
    virtual void setProcessor(CElement* element) = 0;
    virtual CChatWnd* getChatWnd() = 0;
    virtual CChatInput* getChatInput() = 0;
};
