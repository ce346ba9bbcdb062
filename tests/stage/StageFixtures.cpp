#include "StageFixtures.h"

#include "CLocalMethod.h"
#include "TestSupport.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>

StageTerminal::StageTerminal(HubTerminal& hubTerminal, bool master, const StageSetup& setup)
    : terminal(hubTerminal), gui(&view)
{
    // The manager releases one COM initialisation when it goes.
    CoInitialize(nullptr);
    prefs = std::make_unique<CPreferenceManager>(key.path(), "764A7520-9D2C-11d4-AFDB-00105A67EDD0",
                                                 hubTerminal.terminalId(), "Nick " + hubTerminal.terminalId(),
                                                 "C:\\res");
    prefs->setViewBg(setup.background);
    prefs->setCustomBg(setup.customFile);
    stage = std::make_unique<CStage>(&hubTerminal, master, &gui, prefs.get(), setup.fileCopy);
    stage->start(master ? "M_STAGE" : "S_STAGE");
}

StageTerminal::~StageTerminal()
{
    stage->end();
}

void StageTerminal::post(const std::string& method, const std::string& argument)
{
    CLocalMethod::postMethodStr(stage->getObjectId(), method, argument);
}

void StageTerminal::deliver(const std::string& method, const std::string& argument, const std::string& caller)
{
    deliverBytes(method, reinterpret_cast<const unsigned char*>(argument.data()), static_cast<int>(argument.size()),
                 caller);
}

void StageTerminal::deliverBytes(const std::string& method, const unsigned char* bytes, int size,
                                 const std::string& caller)
{
    stage->setCallerTerminal(&caller);
    stage->executeMethodBuf(method, size, bytes);
    stage->setCallerTerminal(nullptr);
}

void StageTerminal::deliverCall(const std::string& method, const std::string& caller)
{
    stage->setCallerTerminal(&caller);
    stage->executeMethod(method);
    stage->setCallerTerminal(nullptr);
}

std::vector<std::string> StageTerminal::slice(const std::vector<std::string>& entries, size_t from)
{
    if (from >= entries.size())
        return {};
    return std::vector<std::string>(entries.begin() + from, entries.end());
}

StageSession::StageSession(const StageSetup& hostSetup)
{
    terminals_.emplace_back(new StageTerminal(hub.host(), true, hostSetup));
    hub.host().plugIn("", host().stage.get());
}

StageSession::~StageSession()
{
    for (auto terminal = terminals_.rbegin(); terminal != terminals_.rend(); ++terminal)
        (*terminal)->terminal.close();
    while (!terminals_.empty())
        terminals_.pop_back();
}

StageTerminal& StageSession::join(const std::string& terminalId, bool wait, const StageSetup& setup)
{
    terminals_.emplace_back(new StageTerminal(hub.join(terminalId), false, setup));
    StageTerminal& joined = *terminals_.back();
    joined.terminal.plugIn("", joined.stage.get());
    if (wait) {
        EXPECT_TRUE(waitUntil([&] { return joined.stage->isSynchronized(); })) << terminalId << " never synchronised";
    }
    return joined;
}

StageTerminal& StageSession::at(const std::string& terminalId)
{
    for (auto terminal = terminals_.rbegin(); terminal != terminals_.rend(); ++terminal)
        if ((*terminal)->id() == terminalId)
            return **terminal;
    throw std::runtime_error("no stage on " + terminalId);
}

void StageSession::leave(const std::string& terminalId)
{
    hub.leave(terminalId);
    host().post("LOC_uninstallAll", terminalId);
}

bool StageSession::settle()
{
    for (auto& terminal : terminals_) {
        bool shown = waitUntil([&] {
            std::vector<std::string> calls = terminal->calls();
            return std::count_if(calls.begin(), calls.end(), [](const std::string& line) {
                       return line.rfind("getCursorDisplay ", 0) == 0;
                   }) == static_cast<long>(terminals_.size());
        });
        if (!shown)
            return false;
    }
    return true;
}

std::vector<std::string> StageSession::stageTrafficTo(const std::string& terminalId)
{
    std::vector<std::string> methods;
    const std::string to = ">" + terminalId + " " + CStage::ELEMENT_ID + " ";
    for (const std::string& line : hub.traffic()) {
        size_t at = line.find(to);
        if (at != std::string::npos)
            methods.push_back(line.substr(at + to.size()));
    }
    return methods;
}
