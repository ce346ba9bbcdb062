#include "StageCtrlFixture.h"

#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CPreferenceManager.h"
#include "CSoundPlay.h"
#include "CThread.h"

#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace {

std::mutex g_soundsLock;
std::vector<int> g_sounds;

BOOL WINAPI recordSound(LPCSTR sound, HMODULE, DWORD)
{
    std::lock_guard<std::mutex> hold(g_soundsLock);
    g_sounds.push_back(static_cast<int>(reinterpret_cast<UINT_PTR>(sound)));
    return TRUE;
}

const RECT TEST_WINDOW = {20, 20, 820, 471};
const RECT STAGE_RECT = {0, 27, 800, 427};

} // namespace

std::vector<int> playedSounds()
{
    std::lock_guard<std::mutex> hold(g_soundsLock);
    return g_sounds;
}

void clearPlayedSounds()
{
    std::lock_guard<std::mutex> hold(g_soundsLock);
    g_sounds.clear();
}

RecordingStageElement::RecordingStageElement(const std::string& objectId, bool master)
{
    registerMethod("LOC_changeTop", &RecordingStageElement::changeTop);
    registerMethod("LOC_changeBottom", &RecordingStageElement::changeBottom);
    registerMethod("LOC_uninstall", &RecordingStageElement::uninstall);
    registerMethod("LOC_updateBackGround", &RecordingStageElement::updateBackGround);
    registerMethod("LOC_updateCustomBgFile", &RecordingStageElement::updateCustomBgFile);
    setMaster(master);
    start(objectId);
}

RecordingStageElement::~RecordingStageElement()
{
    end();
}

RecordingContent::RecordingContent(CStageCtrl* stage, Journal& journal, int number)
    : CContentCtrl(CStageDisplayFactory::CONTENT_RECT, stage, stage, CStageDisplayFactory::DISPLAY_ID),
      journal_(journal),
      number_(number)
{
}

RecordingContent::~RecordingContent()
{
    journal_.add("content " + std::to_string(number_) + " deleted");
}

void RecordingContent::SetCursorCtrl(CCursorCtrl* cursor)
{
    CContentCtrl::SetCursorCtrl(cursor);
    auto* recording = dynamic_cast<RecordingCursor*>(cursor);
    journal_.add("content " + std::to_string(number_) + " cursor "
                 + (recording != nullptr ? std::to_string(recording->number()) : std::string("none")));
}

LRESULT RecordingContent::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_KEYUP)
        journal_.add("content " + std::to_string(number_) + " keyup " + std::to_string(wParam));
    return CContentCtrl::WindowProc(message, wParam, lParam);
}

RecordingCursor::RecordingCursor(CStageCtrl* stage, Journal& journal, int number)
    : CCursorCtrl(CStageDisplayFactory::CURSOR_RECT, stage, stage, CStageDisplayFactory::DISPLAY_ID),
      journal_(journal),
      number_(number)
{
}

RecordingCursor::~RecordingCursor()
{
    journal_.add("cursor " + std::to_string(number_) + " deleted");
}

void RecordingCursor::OnMouseCursorMove(UINT flags, POINT point)
{
    CCursorCtrl::OnMouseCursorMove(flags, point);
    journal_.add("cursor " + std::to_string(number_) + " move " + std::to_string(flags) + " "
                 + std::to_string(point.x) + " " + std::to_string(point.y));
}

CContentCtrl* RecordingDisplayFactory::makeContent(CStageCtrl* stage)
{
    return new RecordingContent(stage, journal, made++);
}

CCursorCtrl* RecordingDisplayFactory::makeCursor(CStageCtrl* stage)
{
    return new RecordingCursor(stage, journal, made++);
}

void useTestThreadAsUiThread()
{
    static CLocalMethod* invoker = [] {
        CThread::registerUIThread();
        return new CLocalMethod;
    }();
    (void)invoker;
}

bool pumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!CWnd::WalkPreTranslateTree(&msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        if (condition())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

bool runOnWorker(const std::function<void()>& body, DWORD timeoutMs)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto task = std::make_shared<std::function<void()>>(body);
    std::thread worker([done, task] {
        (*task)();
        *done = true;
    });
    const bool ended = pumpUntil([&] { return done->load(); }, timeoutMs);
    if (ended)
        worker.join();
    else
        worker.detach();
    return ended;
}

std::vector<HWND> childrenFromTop(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

StageCtrlFixture::StageCtrlFixture(int viewBg, int cursor, bool recordingDisplays)
    : previousFactory_(CStageDisplayFactory::set(recordingDisplays ? &factory : nullptr))
{
    useTestThreadAsUiThread();
    CSoundPlay::setPlayFunction(&recordSound);
    clearPlayedSounds();
    if (viewBg >= 0)
        key.setNumber("viewbg", static_cast<DWORD>(viewBg));
    if (cursor >= 0)
        key.setNumber("cursor", static_cast<DWORD>(cursor));
    CoInitialize(nullptr);   // the manager releases one when it goes
    preferences = std::make_unique<CPreferenceManager>(key.path(), "APP", "T1", "Nick", "C:\\res");
    loader = std::make_unique<CLeadImage>();
    window = std::make_unique<CPlainTopWnd>(TEST_WINDOW, WS_POPUP);
    remake();
}

void StageCtrlFixture::remake()
{
    stage.reset();
    stage = std::make_unique<CStageCtrl>(STAGE_RECT, window.get(), &host, preferences.get(), nullptr,
                                         CStageCtrl::STAGE_ID);
}

StageCtrlFixture::~StageCtrlFixture()
{
    stage.reset();
    element.reset();
    window.reset();
    loader.reset();
    preferences.reset();
    CStageDisplayFactory::set(previousFactory_);
    CSoundPlay::setPlayFunction(nullptr);
}

void StageCtrlFixture::bind(bool master)
{
    element = std::make_unique<RecordingStageElement>("TEST_STAGE", master);
    stage->setStage(element.get());
}

IElementDisplay* StageCtrlFixture::elementDisplay(const std::string& key)
{
    IElementDisplay* display = nullptr;
    runOnWorker([&] { display = stage->getElementDisplay(key); });
    return display;
}

IElementDisplay* StageCtrlFixture::cursorDisplay(const std::string& key, bool own)
{
    IElementDisplay* display = nullptr;
    runOnWorker([&] { display = stage->getCursorDisplay(key, own); });
    return display;
}

void StageCtrlFixture::settle()
{
    // A question waits behind every order posted before it.
    CVector keys(10, 10);
    runOnWorker([&] { stage->lowerLayerAlignment(keys); });
    keys.deleteAllElements();
}

CContentCtrl* StageCtrlFixture::contentOf(const std::string& key)
{
    return dynamic_cast<CContentCtrl*>(stage->displayOf(key));
}

std::vector<HWND> StageCtrlFixture::expectedOrder()
{
    std::vector<HWND> order;
    for (const std::string& key : stage->lowerLayerKeys())
        if (CWnd* display = stage->displayOf(key))
            order.push_back(display->m_hWnd);
    for (const std::string& key : stage->upperLayerKeys())
        if (CWnd* display = stage->displayOf(key))
            order.push_back(display->m_hWnd);
    std::reverse(order.begin(), order.end());
    return order;
}

std::vector<HWND> StageCtrlFixture::layerChildrenFromTop()
{
    std::vector<HWND> inLayers;
    const std::vector<HWND> expected = expectedOrder();
    for (HWND child : childrenFromTop(stage->m_hWnd))
        if (std::find(expected.begin(), expected.end(), child) != expected.end())
            inLayers.push_back(child);
    return inLayers;
}
