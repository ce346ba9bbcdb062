#pragma once
// What the voice element asks of the GUI, for the tests: a GUI with just a phone panel; and a
// playback on the scripted sound device.
#include "IGuiHandle.h"

class CHvxcOut;

class PanelGui : public IGuiHandle {
public:
    explicit PanelGui(CPhoneCtrl* panel) : panel_(panel) {}
    void terminate() override {}
    void setLogicHandle(ILogicHandle*) override {}
    HWND getWindowHandle() override { return nullptr; }
    IFileTransmitter* getFileTransmitter() override { return nullptr; }
    IStageView* getStageView() override { return nullptr; }
    CPhoneCtrl* getPhoneCtrl() override { return panel_; }
    void showSplash(bool) override {}
    void showMainDlg(bool) override {}
    void setBusy(bool) override {}

private:
    CPhoneCtrl* panel_;
};

// For CVoiceManager::setPlaybackFactory: a playback without a window.
CHvxcOut* fakePlayback();
