#pragma once
// The window that shows the shared Stage: the chosen background under the content windows and
// the peers' cursor windows, stacked in two layers. The lower layer holds the contents in the
// stage model's order (index 0 at the bottom); the upper layer, above it, holds the remote
// cursors and a content while the user grabs it or after the model put it there. This
// terminal's own cursor window stays hidden, in no layer.
//
// Everything but the IStageView operations runs on the user-interface thread. Other threads
// reach the window through IStageView, whose orders and questions travel as the stage command
// message; the window reports the user's gestures to the stage model as local method calls to
// the model's object.
#include "CDrawObject.h"
#include "CJObject.h"
#include "CVector.h"
#include "IStageView.h"

#include <CWnd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class CContentCtrl;
class CCursorCtrl;
class CDragDropWnd;
class CJString;
class CPreferenceManager;
class CWTSessionNotifier;
class IFileTransmitter;
class IStageHost;

class CStageCtrl : public CWnd, public IStageView {
public:
    static constexpr int CUSTOM_BG_NUMBER = 4;
    static constexpr UINT STAGE_ID = 1009;

    // Creates the hidden child window at the rectangle (parent's client coordinates) and
    // registers it under a new unique name. Background from the preference "viewbg". A window
    // that cannot be made ends the process.
    CStageCtrl(const RECT& rect, CWnd* parent, IStageHost* host, CPreferenceManager* preferences,
               IFileTransmitter* transmitter, UINT id);
    // Destroys every display window and frees every key and the custom picture.
    ~CStageCtrl() override;

    // IStageView, any thread.
    void setStage(CSharedElement* stage) override;
    // Throws CIllegalArgumentException when the key has a display already.
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
    int getCustomBgNumber() override { return CUSTOM_BG_NUMBER; }

    // The main dialog's orders (user-interface thread). SetBackGround is offered on the master
    // only; on a slave it ends the process.
    void SetBackGround(int number);
    int GetBackGround() const { return backgroundNumber_; }
    void SetCustomBgFile(const std::string& path);
    bool HasCustomBgBitmap() const { return customBitmap_ != nullptr; }
    // Shows or hides every cursor window of the upper layer.
    void SetCursor(bool show);
    bool IsMaster() const;
    bool IsInitialized() const { return initialized_; }

    // Called by the content windows (user-interface thread).
    void OnLButtonUp(CContentCtrl* display, UINT flags, POINT point);
    void OnGrabed(CContentCtrl* display);
    void OnUnGrabed(CContentCtrl* display);
    void OnTear(CContentCtrl* display);
    void SetActiveContent(CContentCtrl* display);
    CPreferenceManager* getPreferenceManager() const { return preferences_; }
    IFileTransmitter* getFileTransmitter() const { return transmitter_; }
    int GetStatus() const { return status_; }
    void TrackTrashHover(int x, int y);
    bool IsPointInTrash(int x, int y);
    CDragDropWnd* GetDragDropWnd();
    RECT GetMainDlgRect();

    const std::string& getSelfObjectId() const { return selfObjectId_; }
    CCursorCtrl* getOwnCursor() const { return ownCursor_; }
    // The keys of a layer, bottom first; "" stands for nothing (for tests and traces).
    std::vector<std::string> lowerLayerKeys();
    std::vector<std::string> upperLayerKeys();
    // The window of the key in either layer, or null (also for a reserved place).
    CWnd* displayOf(const std::string& key);

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    int OnCreate(CREATESTRUCTA* cs);
    void OnClose();
    void OnPaint();
    void OnMouseMove(UINT flags, POINT point);
    void OnSize(UINT type, int cx, int cy);
    void OnDropFiles(HDROP drop);
    LRESULT OnStageCtrlCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnSessionChange(WPARAM wParam, LPARAM lParam);

private:
    // Where a key or a display was found.
    struct Place {
        CVector* keys = nullptr;   // null: nowhere
        CVector* displays = nullptr;
        int index = -1;
        bool found() const { return keys != nullptr; }
        bool upper = false;
    };

    // The command twins (user-interface thread).
    void GenerateElementDisplay(CJString* key);
    void GenerateCursorDisplay(CJString* key);
    void ReleaseDisplay(const std::string& key);
    // True when it kept the key object.
    bool PutOnTop(CJString* key);
    void MoveTo(const std::string& key, bool top);
    void MoveToUpperLayer(const std::string& key);
    void LowerLayerAlignment();
    void ChangeBackGround(int number);
    void ChangeCustomBgBitmap(HBITMAP bitmap);
    void OnElementInstalled(const std::string& desc);
    void ShowMessage(const std::string& text);
    void OnFileCopied(const std::string& report);
    void ReloadBackGround();
    void LoadBackGround(int number);
    void AlignDisplay();
    void SetCurDspToAllElemDsp();

    Place findKey(const std::string& key);
    Place findDisplay(CWnd* display);
    static CWnd* windowAt(CVector* displays, int index);
    // Moves a key and its display entry to the index of the other (or the same) layer.
    void moveEntry(const Place& from, CVector* keys, CVector* displays, int index);
    void repaint(CWnd* window);
    void deleteLayer(CVector& keys, CVector& displays);
    void postToStage(const std::string& method, const std::string& argument);
    std::string stageObjectId();

    // The window's hold of a key object sent with a waited-for command: the handler takes it
    // only while the caller still waits for it, so an object that never reaches a handler (or
    // reaches it after a disable let the caller go) is freed exactly once, by the caller.
    void offerKey(CJString* key, WPARAM code);
    bool claimKey(CJString* key, WPARAM code);
    void withdrawKey(CJString* key);
    bool sendKey(WPARAM code, const std::string& key);
    HBITMAP makeCustomBgBitmap();

    CPreferenceManager* preferences_;   // not owned
    IFileTransmitter* transmitter_;     // not owned
    IStageHost* host_;                  // not owned
    CCursorCtrl* ownCursor_ = nullptr;
    CJString* ownCursorKey_ = nullptr;
    int width_;
    int height_;
    RECT clientRect_;
    int backgroundNumber_;
    int status_ = 0;
    bool firstBackgroundChange_ = true;
    bool initialized_ = false;
    CVector lowerLayerDspList_{10, 10};
    CVector lowerLayerKeyList_{10, 10};
    CVector upperLayerDspList_{10, 10};
    CVector upperLayerKeyList_{10, 10};
    std::string selfObjectId_;
    CDrawObject background_;
    CContentCtrl* activeContent_ = nullptr;
    CWTSessionNotifier* sessionNotifier_ = nullptr;
    HBITMAP customBitmap_ = nullptr;

    // The bound stage element (any thread).
    mutable std::mutex stageLock_;
    std::string stageObjectId_;
    bool master_ = false;

    // Reply fields of the waited-for commands; written on the user-interface thread.
    CJObject callMonitor_;
    std::atomic<IElementDisplay*> pNewDisplay_{nullptr};
    std::atomic<bool> duplicate_{false};
    std::atomic<bool> grabAnswer_{false};
    std::atomic<bool> ownCursorFlag_{false};
    CJObject alignMonitor_;
    int ticket_ = 0;           // alignMonitor_
    CVector replyVector_{10, 10};   // alignMonitor_: CJString objects
    CJObject dataMonitor_;
    std::vector<unsigned char> customData_;   // dataMonitor_
    int customWidth_ = 0;                     // dataMonitor_
    int customHeight_ = 0;                    // dataMonitor_

    std::mutex keyLock_;
    std::vector<std::pair<CJString*, WPARAM>> offeredKeys_;   // keyLock_
};
