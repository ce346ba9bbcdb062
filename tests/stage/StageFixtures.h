#pragma once
// Stages on an in-process session: each terminal's stage with recording windows, its own
// preferences (under a registry key of its own) and a GUI handle that hands out the recorders.
#include "CLeadImage.h"
#include "CPreferenceManager.h"
#include "CProxyElement.h"
#include "CStage.h"
#include "IGuiHandle.h"
#include "RegistryKey.h"
#include "SessionHub.h"
#include "StageRecorders.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class CFileCopy;

class RecordingGui : public IGuiHandle {
public:
    explicit RecordingGui(IStageView* view) : view_(view) {}
    void terminate() override {}
    void setLogicHandle(ILogicHandle*) override {}
    HWND getWindowHandle() override { return nullptr; }
    IFileTransmitter* getFileTransmitter() override { return nullptr; }
    IStageView* getStageView() override { return view_; }
    CPhoneCtrl* getPhoneCtrl() override { return nullptr; }
    void showSplash(bool) override {}
    void showMainDlg(bool) override {}
    void setBusy(bool) override {}

private:
    IStageView* view_;
};

// What a stage starts with: the background and the custom picture of its preferences.
struct StageSetup {
    int background = 0;
    std::string customFile;
    CFileCopy* fileCopy = nullptr;
};

// One terminal's stage, started ("M_STAGE" or "S_STAGE"), not yet plugged in.
class StageTerminal {
public:
    StageTerminal(HubTerminal& terminal, bool master, const StageSetup& setup);
    // Ends the stage; its terminal must have been closed.
    ~StageTerminal();

    const std::string& id() const { return terminal.terminalId(); }
    // A local call, as the stage window and the director post them.
    void post(const std::string& method, const std::string& argument);
    // A peer's call run on the calling thread, as the handler would run it; for a stage whose
    // handler has nothing else to do.
    void deliver(const std::string& method, const std::string& argument, const std::string& caller);
    void deliverBytes(const std::string& method, const unsigned char* bytes, int size, const std::string& caller);
    // The same for a method without an argument.
    void deliverCall(const std::string& method, const std::string& caller);
    // The view's operations so far, from the given entry on.
    std::vector<std::string> calls(size_t from = 0) { return slice(view.calls.entries(), from); }
    static std::vector<std::string> slice(const std::vector<std::string>& entries, size_t from);

    HubTerminal& terminal;
    RecordingStageView view;
    RegistryKey key;
    std::unique_ptr<CPreferenceManager> prefs;
    RecordingGui gui;
    std::unique_ptr<CStage> stage;
};

// A hub with a stage on the host and on each joined terminal.
class StageSession {
public:
    explicit StageSession(const StageSetup& hostSetup = StageSetup());
    // Closes the terminals newest first, then ends every stage.
    ~StageSession();

    StageTerminal& host() { return *terminals_.front(); }
    // Joins the terminal and plugs its stage in; with wait, returns once it is synchronised.
    StageTerminal& join(const std::string& terminalId, bool wait = true, const StageSetup& setup = StageSetup());
    // The newest stage of the terminal.
    StageTerminal& at(const std::string& terminalId);
    // An orderly leave: the terminal's session closes, and the host's director posts
    // "LOC_uninstallAll" with its id.
    void leave(const std::string& terminalId);
    // Waits until every stage's view shows one cursor per stage of the session; false when
    // that does not come.
    bool settle();
    // The methods that reached the terminal's stage so far, from the traffic.
    std::vector<std::string> stageTrafficTo(const std::string& terminalId);

    // Contents are made with the picture loader.
    CLeadImage loader;
    SessionHub hub;

private:
    std::vector<std::unique_ptr<StageTerminal>> terminals_; // oldest first
};
