#include "CVoiceProcessor.h"

#include "CIOException.h"
#include "CIllegalArgumentException.h"
#include "CJException.h"
#include "CLocalMethod.h"
#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "CPhoneCtrl.h"
#include "CTerminalGroup.h"
#include "CThread.h"
#include "CTrace.h"
#include "CVoiceManager.h"
#include "IGuiHandle.h"

namespace {
const char SCOPE[] = "CVoiceProcessor";
const char ALL_TERMINAL[] = "@ALL_TERMINAL";
const char PLAY_VOICE[] = "INS_playVoice";
const char PLAY_SPEECH[] = "INS_playSpeech";

CPhoneCtrl* phonePanelOf(IGuiHandle* gui)
{
    if (gui == nullptr)
        return nullptr;
    try {
        return gui->getPhoneCtrl();
    } catch (const CJException& e) {
        CTrace::scopedError(SCOPE, " no phone panel: " + e.getMessage(), -1);
        return nullptr;
    }
}

bool onUiThread()
{
    try {
        return CThread::checkUIThread();
    } catch (const CNullPointerException&) {
        return false;
    }
}
} // namespace

const char CVoiceProcessor::VOICE_ELEMENT_ID[] = "A51AA860-B281-11d4-8727-0000F460D121";

CVoiceProcessor::CVoiceProcessor(IGuiHandle* gui, CTerminalGroup* memberList, const std::string& logFileName)
    : memberList_(memberList), voiceManager_(nullptr), phonePanel_(nullptr), logFileName_(logFileName)
{
    CTrace::scopedAssertTrue(memberList != nullptr, SCOPE, " no member list.", -1);
    phonePanel_ = phonePanelOf(gui);
    CTrace::scopedAssertTrue(phonePanel_ != nullptr, SCOPE, " no phone panel.", -1);
    voiceManager_ = new CVoiceManager(this);
    try {
        phonePanel_->SetVoiceProcessor(this);
    } catch (const CJException& e) {
        CTrace::scopedError(SCOPE, " SetVoiceProcessor: " + e.getMessage(), -1);
        delete voiceManager_;
        throw;
    }
    registerMethod(PLAY_VOICE, &CVoiceProcessor::INS_playVoice);
    registerMethod(PLAY_SPEECH, &CVoiceProcessor::INS_playSpeech);
    memberList_->addObserver(this);
}

CVoiceProcessor::~CVoiceProcessor()
{
    memberList_->deleteObserver(this);
    phonePanel_->SetVoiceProcessor(nullptr);
    tell_ = false;
    CMonitorHold hold(elementLock_, 1, SCOPE);
    delete voiceManager_;
    voiceManager_ = nullptr;
}

void CVoiceProcessor::onPlugIn(const std::string&)
{
    tell_ = true;
}

void CVoiceProcessor::onPlugOut(const std::string&)
{
    tell_ = false;
}

std::string CVoiceProcessor::getElementId() const
{
    return VOICE_ELEMENT_ID;
}

void CVoiceProcessor::tell(const unsigned char* data, size_t size)
{
    if (!tell_ || !memberList_->isSelfMember())
        return;
    phonePanel_->notifyVoiceData(size);
    try {
        sendNoticeBuf(ALL_TERMINAL, VOICE_ELEMENT_ID, PLAY_VOICE, static_cast<int>(size), data);
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedError(SCOPE, " tell: voice packet lost: " + e.getMessage(), -1);
    } catch (const CIOException& e) {
        CTrace::scopedError(SCOPE, " tell: voice packet lost: " + e.getMessage(), -1);
    }
}

void CVoiceProcessor::tell(const std::string& text)
{
    if (!tell_ || !memberList_->isSelfMember())
        return;
    try {
        sendNoticeStr(ALL_TERMINAL, VOICE_ELEMENT_ID, PLAY_SPEECH, text);
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedError(SCOPE, " tell: speech lost: " + e.getMessage(), -1);
    } catch (const CIOException& e) {
        CTrace::scopedError(SCOPE, " tell: speech lost: " + e.getMessage(), -1);
    }
}

void CVoiceProcessor::INS_playVoice(int size, const unsigned char* bytes)
{
    if (!memberList_->isSelfMember())
        return;
    phonePanel_->notifyVoiceData(static_cast<size_t>(size));
    std::string caller;
    try {
        caller = getCallerTerminal();
    } catch (const CNullPointerException& e) {
        CTrace::scopedError(SCOPE, " INS_playVoice: no caller terminal, packet dropped: " + e.getMessage(), -1);
        return;
    }
    CMonitorHold hold(elementLock_, 2, SCOPE);
    voiceManager_->play(caller, bytes, size < 0 ? 0 : static_cast<size_t>(size));
}

void CVoiceProcessor::INS_playSpeech(const std::string& text)
{
    if (!memberList_->isSelfMember())
        return;
    std::string caller;
    try {
        caller = getCallerTerminal();
    } catch (const CNullPointerException& e) {
        CTrace::scopedError(SCOPE, " INS_playSpeech: no caller terminal: " + e.getMessage(), -1);
        return;
    }
    CMonitorHold hold(elementLock_, 3, SCOPE);
    voiceManager_->playSpeech(caller, text);
}

void CVoiceProcessor::update(CObservable*, std::string notice)
{
    const size_t blank = notice.find(' ');
    const std::string kind = notice.substr(0, blank);
    const std::string terminalId = blank == std::string::npos ? std::string() : notice.substr(blank + 1);
    if (terminalId.empty()) {
        // A peer's member description can make one; the voice manager takes no empty id.
        CTrace::scopedError(SCOPE, " update: notice without a terminal id ignored: [" + notice + "]", -1);
        return;
    }
    {
        CMonitorHold hold(elementLock_, 4, SCOPE);
        if (CTerminalGroup::isAddNotice(notice))
            voiceManager_->setName(terminalId, terminalId);
        else
            voiceManager_->removeName(terminalId);
    }
    phonePanel_->setAnyoneListening(memberList_->hasOtherMember());
}

void CVoiceProcessor::timeElapsed(int)
{
}

void CVoiceProcessor::switchPhone(const char* operation, const char* method, bool on)
{
    CTrace::scopedAssertTrue(onUiThread(), SCOPE, std::string(" ") + operation + ": not on the UI thread.", -1);
    CLocalMethod::postMethod(memberList_->getObjectId(), method);
    CMonitorHold hold(elementLock_, on ? 5 : 6, SCOPE);
    if (on)
        voiceManager_->startRecording();
    else
        voiceManager_->stopRecording();
}

void CVoiceProcessor::On()
{
    switchPhone("On", "LOC_addSelf", true);
}

void CVoiceProcessor::Off()
{
    switchPhone("Off", "LOC_removeSelf", false);
}
