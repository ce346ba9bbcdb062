#include "ReplicaFixtures.h"

#include <algorithm>
#include <sstream>

std::string errorText(const TraceCapture& capture, const std::string& piece)
{
    std::istringstream lines(capture.text());
    std::string found;
    for (std::string line; std::getline(lines, line);)
        if (line.find("ERROR: ") != std::string::npos && line.find(piece) != std::string::npos)
            found += line + "\n";
    return found;
}

int errorLines(const TraceCapture& capture, const std::string& piece)
{
    std::string found = errorText(capture, piece);
    return static_cast<int>(std::count(found.begin(), found.end(), '\n'));
}

// ---- TestCopy

TestCopy::TestCopy(Journal& journal, const std::string& id, bool master) : journal_(journal)
{
    setId(id);
    setMaster(master);
    registerMethod("INS_initFirst", &TestCopy::INS_initFirst);
    registerMethod("INS_initSecond", &TestCopy::INS_initSecond);
    registerMethod("COP_note", &TestCopy::COP_note);
    registerMethod("LOC_cooperate", &TestCopy::LOC_cooperate);
    registerMethod("LOC_other", &TestCopy::LOC_other);
}

void TestCopy::note(const std::string& what)
{
    journal_.add(getTerminalId() + " " + what);
}

void TestCopy::onPlugIn(const std::string&)
{
    note("onPlugIn");
}

void TestCopy::onSync()
{
    note("onSync " + getCallerTerminal());
    replyToCallerStr("INS_initFirst", "first");
    replyToCallerStr("INS_initSecond", "second");
}

void TestCopy::onEndSync()
{
    note(std::string("onEndSync synchronized=") + (isSynchronized() ? "1" : "0"));
}

void TestCopy::INS_initFirst(const std::string& text)
{
    note("INS_initFirst " + text);
}

void TestCopy::INS_initSecond(const std::string& text)
{
    note("INS_initSecond " + text);
}

void TestCopy::COP_note(const std::string& text)
{
    note("COP_note [" + text + "]");
}

void TestCopy::LOC_cooperate(const std::string& text)
{
    COP_note(text);
    requestMasterMethod("COP_note", text);
}

// Not cooperative: the relay must never run it.
void TestCopy::LOC_other(const std::string& text)
{
    note("LOC_other [" + text + "]");
}
