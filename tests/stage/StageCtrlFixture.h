#pragma once
// The stage window in a test window of 800 x 451 at (0, 27), 800 x 400, on the test's thread
// as the program's user-interface thread, with tavlang as resource module, preferences in a
// private registry key, a recording main dialog, a recording stage element and recording
// content and cursor windows. Sounds go to a recording player.
#include "CContentCtrl.h"
#include "CCursorCtrl.h"
#include "CSharedElement.h"
#include "CStageCtrl.h"
#include "CStageDisplayFactory.h"
#include "IStageHost.h"
#include "RegistryKey.h"
#include "TestSupport.h"
#include "UiThreadScope.h"

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CLeadImage;
class CPreferenceManager;

// The main dialog's side: every call noted ("setStatus 2", "updateRole", ...).
class RecordingStageHost : public IStageHost {
public:
    void setStatus(int status) override { calls.add("setStatus " + std::to_string(status)); }
    void updateRole() override { calls.add("updateRole"); }
    void setBusy(bool up) override { calls.add(std::string("setBusy ") + (up ? "true" : "false")); }
    void trackTrashHover(int x, int y) override { calls.add("trackTrashHover " + std::to_string(x) + " " + std::to_string(y)); }
    bool isPointInTrash(int x, int y) override
    {
        calls.add("isPointInTrash " + std::to_string(x) + " " + std::to_string(y));
        return true;
    }
    CDragDropWnd* getDragDropWnd() override { return nullptr; }
    RECT getMainDlgRect() override { return RECT{1, 2, 3, 4}; }

    Journal calls;
};

// The stage model's side: the local methods the window posts, each noted as "<method> <text>".
class RecordingStageElement : public CSharedElement {
public:
    RecordingStageElement(const std::string& objectId, bool master);
    ~RecordingStageElement() override;
    void onSync() override {}
    void onEndSync() override {}

    Journal calls;

private:
    void changeTop(const std::string& key) { calls.add("LOC_changeTop " + key); }
    void changeBottom(const std::string& key) { calls.add("LOC_changeBottom " + key); }
    void uninstall(const std::string& key) { calls.add("LOC_uninstall " + key); }
    void updateBackGround(const std::string& n) { calls.add("LOC_updateBackGround " + n); }
    void updateCustomBgFile(const std::string& path) { calls.add("LOC_updateCustomBgFile " + path); }
};

// Content and cursor windows that note what the stage tells them, in the journal shared by
// the fixture: "content <n> cursor <cursor n or none>", "content <n> keyup 13",
// "cursor <n> move <flags> <x> <y>"; n counts the windows made from 0.
class RecordingContent : public CContentCtrl {
public:
    RecordingContent(CStageCtrl* stage, Journal& journal, int number);
    ~RecordingContent() override;
    void SetCursorCtrl(CCursorCtrl* cursor) override;
    int number() const { return number_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    Journal& journal_;
    int number_;
};

class RecordingCursor : public CCursorCtrl {
public:
    RecordingCursor(CStageCtrl* stage, Journal& journal, int number);
    ~RecordingCursor() override;
    void OnMouseCursorMove(UINT flags, POINT point) override;
    int number() const { return number_; }

private:
    Journal& journal_;
    int number_;
};

class RecordingDisplayFactory : public CStageDisplayFactory {
public:
    CContentCtrl* makeContent(CStageCtrl* stage) override;
    CCursorCtrl* makeCursor(CStageCtrl* stage) override;

    Journal journal;
    int made = 0;
    int live = 0;
};

// The process's UI thread is the test's main thread: registered once, with the one invoker.
void useTestThreadAsUiThread();

// Runs body on a new thread (not the UI thread) while this thread dispatches its messages;
// false when it did not end within the time (the thread is then left to end by itself).
bool runOnWorker(const std::function<void()>& body, DWORD timeoutMs = 10000);
// Dispatches this thread's waiting messages until the condition holds; false after the time.
bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
// The handles of the window's children from the top of the order down.
std::vector<HWND> childrenFromTop(HWND parent);

class StageCtrlFixture {
public:
    // viewBg, cursor: stored as preferences first unless negative.
    explicit StageCtrlFixture(int viewBg = -1, int cursor = -1, bool recordingDisplays = true);
    ~StageCtrlFixture();

    // A new stage window in place of the one there was.
    void remake();
    // Binds the stage window to a recording stage element of that role (object id "TEST_STAGE").
    void bind(bool master);
    // The display the view hands out for the key, asked from a worker thread.
    IElementDisplay* elementDisplay(const std::string& key);
    IElementDisplay* cursorDisplay(const std::string& key, bool own);
    // Waits until every command posted so far has run.
    void settle();
    // The content window made for the key, or null.
    CContentCtrl* contentOf(const std::string& key);
    // The layer windows' handles as the keys' order says they must lie, from the top down:
    // the upper layer's last first, the lower layer's first last.
    std::vector<HWND> expectedOrder();
    // The stage's children from the top down that belong to a layer.
    std::vector<HWND> layerChildrenFromTop();

    UiThreadScope ui;
    RegistryKey key;
    std::unique_ptr<CPreferenceManager> preferences;
    std::unique_ptr<CLeadImage> loader;
    std::unique_ptr<CPlainTopWnd> window;
    RecordingStageHost host;
    RecordingDisplayFactory factory;
    std::unique_ptr<RecordingStageElement> element;
    std::unique_ptr<CStageCtrl> stage;

private:
    CStageDisplayFactory* previousFactory_;
};

// Sounds played since the fixture was made, by resource id.
std::vector<int> playedSounds();
void clearPlayedSounds();
