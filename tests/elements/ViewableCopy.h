#pragma once
// One copy of a viewable element alone on a fake session: what it sends lands in the session's
// outbox, and the test delivers the calls of its peers as they would arrive.
#include "ElementFixtures.h"
#include "ViewableFixtures.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

const char ELEMENT_ID[] = "VIEW-ELEMENT-1";

class ViewableCopy {
public:
    typedef std::function<TestViewable*(EventLog& log, IElementDisplay* display)> Maker;
    // Makes the element with the copy's log and display, gives it the element id (and, on a
    // slave, "HOST" as master terminal) and starts it; plugIn follows separately.
    ViewableCopy(const std::string& terminalId, const Maker& make);
    // Plugs out (when plugged in), ends and deletes the element.
    ~ViewableCopy();

    void plugIn();
    void plugOut();

    // A call from terminal from to this copy, addressed to receiver ("@HAS_MASTER", a terminal
    // id, ...), with no argument, a text or a byte buffer.
    void deliver(const std::string& from, const std::string& receiver, const std::string& method);
    void deliverStr(const std::string& from, const std::string& receiver, const std::string& method,
                    const std::string& text);
    void deliverBuf(const std::string& from, const std::string& receiver, const std::string& method,
                    const std::string& bytes);
    // Runs "INS_initExtra" through the handler (addressed to the own terminal) and waits for
    // it: every call delivered before has run then.
    void settle();

    // "receiver method(argument)" for every call sent so far.
    std::vector<std::string> sent();
    // Waits until count calls were sent.
    bool waitSent(size_t count, DWORD timeoutMs = 10000);

    FakeSession session;
    EventLog log;
    FakeDisplay display{log};
    TestViewable* element;

private:
    bool plugged_ = false;
    int settles_ = 0;
};

// A master copy on "HOST" shown by a view id, with its display attached at plug-in.
std::unique_ptr<ViewableCopy> masterCopy(const ViewTexts& texts = ViewTexts(), const std::string& viewId = "VIEW-7");
// A slave copy on terminal, plugged in and synchronised by a master that shows viewId; its
// display is attached at the end of its synchronisation.
std::unique_ptr<ViewableCopy> synchronisedSlave(const std::string& terminal = "T2",
                                                const std::string& viewId = "VIEW-7");
