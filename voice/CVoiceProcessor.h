#pragma once
// The shared voice element of a session: the one bridge between the voice engine and the
// network. The capture side hands it finished voice packets (its INotifier face), which it
// sends to every terminal as "INS_playVoice"; received packets run on its handler thread and go
// to the voice manager. It observes the phone group (the member list) to keep one playback node
// per member and to tell the panel whether anyone else is in the phone.
//
// Threads: the UI thread (On, Off, construction, destruction), the handler thread (remote calls,
// plug-in and plug-out), the member list's thread (update) and the capture thread (tell). The
// element lock serialises every use of the voice manager but tell's, which does not use it.
#include "CElement.h"
#include "CJObject.h"
#include "INotifier.h"
#include "IObserver.h"
#include "ITimeListener.h"

#include <atomic>
#include <string>

class CPhoneCtrl;
class CTerminalGroup;
class CVoiceManager;
class IGuiHandle;

class CVoiceProcessor : public CElement, public virtual INotifier, public virtual IObserver,
                        public virtual ITimeListener {
public:
    // The same on every terminal: what receivers match.
    static const char VOICE_ELEMENT_ID[];

    // The panel is asked of the GUI (none ends the process); the voice manager is made with this
    // element as its packet sink; the element attaches itself to the panel and observes the
    // member list. The log file name is kept.
    CVoiceProcessor(IGuiHandle* gui, CTerminalGroup* memberList, const std::string& logFileName);
    ~CVoiceProcessor() override;

    void onPlugIn(const std::string& text) override;
    void onPlugOut(const std::string& text) override;
    std::string getElementId() const override;

    // Sending: only while plugged in and this terminal is in the phone.
    void tell(const std::string& text) override;
    void tell(const unsigned char* data, size_t size) override;
    // "ADD <id>" or "REMOVE <id>" from the member list.
    void update(CObservable* source, std::string notice) override;
    void timeElapsed(int value) override;

    // The phone switched on or off by the panel: UI thread only (else the process ends).
    virtual void On();
    virtual void Off();

    const std::string& getLogFileName() const { return logFileName_; }
    bool isTelling() const { return tell_.load(); }
    CVoiceManager* getVoiceManager() const { return voiceManager_; }

private:
    void INS_playVoice(int size, const unsigned char* bytes);
    void INS_playSpeech(const std::string& text);
    void switchPhone(const char* operation, const char* method, bool on);

    CTerminalGroup* memberList_;
    CVoiceManager* voiceManager_;
    CPhoneCtrl* phonePanel_;
    std::string logFileName_;
    CJObject elementLock_;
    // Set while plugged in: one per element, so that several terminals may live in one process.
    std::atomic<bool> tell_{false};
};
