#pragma once
// Recording stand-ins for the stage window, a content window and a chat, one set per terminal:
// each call is noted as one journal line ("<operation> <arguments>"), blocks by length and CRC,
// so that tests compare what every terminal's windows were told, in order.
#include "IChatGui.h"
#include "IContentDisplay.h"
#include "IStageView.h"
#include "TestSupport.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// "len=<n> crc=<8 hex digits>"; "null" for no block.
std::string describeBlock(const unsigned char* data, unsigned length);

class RecordingChatGui : public IChatGui {
public:
    explicit RecordingChatGui(Journal& journal) : journal_(journal) {}

    std::string makeSpeakerData(const std::string& terminalId, const std::string& nickname,
                                const std::string& referNum) override;
    void parseSpeakerData(std::string_view data, std::string* terminalId, std::string* nickname,
                          std::string* referNum) override;
    void addSpeaker(const std::string& speakerData) override;
    void removeSpeaker(const std::string& terminalId) override;
    void addSpeech(const std::string& terminalId, const std::string& text) override;
    void setSession(const std::string& name) override;
    void openLogFile(const std::string& fileName) override;
    void closeLogFile() override;
    void setLocation(bool show) override;
    void notifyDisplayDestroyed() override;
    void setProcessor(CElement* element) override;
    CChatWnd* getChatWnd() override { return nullptr; }
    CChatInput* getChatInput() override { return nullptr; }

private:
    Journal& journal_;
};

// A cursor window: the element display operations only.
class RecordingDisplay : public virtual IElementDisplay {
public:
    RecordingDisplay(Journal& journal, const std::string& name) : journal_(journal), name_(name) {}

    void setEntity(CSharedElement* entity) override;
    void setLocation(const std::string& location) override;
    void setSize(const std::string& size) override;
    void startMotion() override;
    void stopMotion() override;
    void setMotion(const std::string& motion) override;
    void setDecoration(const std::string& decoration) override;
    void setAttribute(const std::string& attribute) override;
    void setViewId(const std::string& viewId) override;
    void setViewData(unsigned size, const unsigned char* data, int width, int height) override;

    // The element last shown, null before setEntity or after setEntity(null); valid while it
    // is installed.
    CSharedElement* entity();

protected:
    void note(const std::string& entry) { journal_.add(name_ + " " + entry); }

private:
    Journal& journal_;
    std::string name_;
    std::mutex entityLock_;
    CSharedElement* entity_ = nullptr; // entityLock_
};

// A content window, with its chat.
class RecordingContentDisplay : public RecordingDisplay, public IContentDisplay {
public:
    RecordingContentDisplay(Journal& journal, const std::string& name, Journal& chatJournal)
        : RecordingDisplay(journal, name), chat_(chatJournal)
    {
    }

    void setIcon(unsigned imageLength, const unsigned char* image, unsigned maskLength, const unsigned char* mask,
                 std::uint16_t imageBits, std::uint16_t maskBits) override;
    void onGainedMyOperation(const std::string& requestId) override;
    void onLostMyOperation(const std::string& requestId) override;
    void onGainedOperation(const std::string& requestId) override;
    void onLostOperation(const std::string& requestId) override;
    void onSpeech(const std::string& text) override;
    void execFile(const std::string& path) override;
    void showMessage(const std::string& text) override;
    IChatGui* getChatGui() override { return &chat_; }

private:
    RecordingChatGui chat_;
};

// The stage window of one terminal. Displays are numbered "D0", "D1", ... in the order made and
// live until the recorder goes; a key that has a display already gets none.
class RecordingStageView : public IStageView {
public:
    RecordingStageView() = default;

    void setStage(CSharedElement* stage) override;
    IElementDisplay* getElementDisplay(const std::string& key) override;
    IElementDisplay* getCursorDisplay(const std::string& key, bool own) override;
    void releaseDisplay(const std::string& key) override;
    void putOnTop(const std::string& key) override;
    void moveToTop(const std::string& key) override;
    void moveToBottom(const std::string& key) override;
    void moveToUpperLayer(const std::string& key) override;
    bool isGrabed(const std::string& key) override;
    void lowerLayerAlignment(CVector& keys) override;
    void changeCustomBgData(unsigned length, const unsigned char* data, int width, int height) override;
    void changeBackGround(int number) override;
    void setStatus(int status) override;
    void onInitialized() override;
    void onElementInstalled(const std::string& desc) override;
    void getStageSize(int& width, int& height) override;
    void NotifyCR() override;
    void showMessage(const std::string& text) override;
    void onFileCopied(const std::string& report) override;
    int getCustomBgNumber() override { return 4; }

    // Keys isGrabed answers true for.
    void setGrabbed(const std::string& key, bool grabbed);
    // Runs at the start of every moveToTop and moveToBottom, on the caller's thread, before the
    // move is noted: a test holds the view's moves with it.
    void setMoveHook(std::function<void(const std::string&)> hook);
    // The lower layer as the moves told so far left it, bottom first.
    std::vector<std::string> lowerLayer();
    // The display name given to the key ("" when none was made).
    std::string displayName(const std::string& key);
    // The element the key's display shows, null when none.
    CSharedElement* entity(const std::string& key);

    Journal calls;   // the view's own operations
    Journal display; // what the displays were told, each line "<display name> <operation> ..."
    Journal chat;    // what the chats were told

private:
    void note(const std::string& entry) { calls.add(entry); }
    IElementDisplay* make(const std::string& key, bool content, bool own);
    void place(const std::string& key, bool top);
    void runMoveHook(const std::string& key);

    std::mutex lock_;
    std::vector<std::unique_ptr<RecordingDisplay>> made_;     // lock_
    std::map<std::string, std::string> names_;                // lock_: key to display name
    std::map<std::string, bool> grabbed_;                     // lock_
    std::vector<std::string> lower_;                          // lock_
    std::function<void(const std::string&)> moveHook_;        // lock_
};
