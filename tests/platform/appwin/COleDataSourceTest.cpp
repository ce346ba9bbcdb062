// OLE drags: the data a source offers, and drags on a thread of their own driven by real input.
#include "CEvent.h"
#include "COleDataSource.h"
#include "COleDropSource.h"
#include "CWinThread.h"
#include "SentInput.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A shell file drop of one path: the 20-byte header, the path, two NULs.
HGLOBAL dropFilesOf(const char* path) {
    const size_t length = strlen(path);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + length + 2);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), path, length);
    GlobalUnlock(block);
    return block;
}

HGLOBAL dwordBlock(DWORD value) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof value);
    *static_cast<DWORD*>(GlobalLock(block)) = value;
    GlobalUnlock(block);
    return block;
}

CLIPFORMAT preferredEffectFormat() {
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA("Preferred DropEffect"));
}

// The data a content's drag offers.
void offerFile(COleDataSource& source, const char* path) {
    source.CacheGlobalData(CF_HDROP, dropFilesOf(path));
    source.CacheGlobalData(preferredEffectFormat(), dwordBlock(DROPEFFECT_COPY));
}

std::string bytesOf(HGLOBAL block) {
    std::string bytes(static_cast<const char*>(GlobalLock(block)), GlobalSize(block));
    GlobalUnlock(block);
    return bytes;
}

FORMATETC formatOf(CLIPFORMAT format) {
    return {format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
}

}  // namespace

TEST(COleDataSource, OffersTheCachedFormatsAndNoOthers) {
    COleDataSource source;
    offerFile(source, "C:\\a.txt");
    IDataObject* data = source.GetDataObject();
    ASSERT_NE(nullptr, data);

    FORMATETC files = formatOf(CF_HDROP);
    STGMEDIUM medium{};
    ASSERT_EQ(S_OK, data->GetData(&files, &medium));
    EXPECT_EQ(static_cast<DWORD>(TYMED_HGLOBAL), medium.tymed);
    const std::string expected = std::string("\x14\0\0\0", 4) + std::string(16, '\0') + "C:\\a.txt" +
                                 std::string(2, '\0');
    EXPECT_EQ(30u, expected.size());
    EXPECT_EQ(expected, bytesOf(medium.hGlobal));
    char path[MAX_PATH] = "";
    EXPECT_EQ(1u, DragQueryFileA(static_cast<HDROP>(medium.hGlobal), 0xFFFFFFFF, nullptr, 0));
    DragQueryFileA(static_cast<HDROP>(medium.hGlobal), 0, path, sizeof path);
    EXPECT_STREQ("C:\\a.txt", path);
    ReleaseStgMedium(&medium);

    FORMATETC effect = formatOf(preferredEffectFormat());
    ASSERT_EQ(S_OK, data->GetData(&effect, &medium));
    EXPECT_EQ(std::string("\1\0\0\0", 4), bytesOf(medium.hGlobal));
    ReleaseStgMedium(&medium);
    EXPECT_EQ(S_OK, data->QueryGetData(&effect));

    // Not offered: another format, another medium, another aspect.
    FORMATETC text = formatOf(CF_TEXT);
    EXPECT_EQ(DV_E_FORMATETC, data->GetData(&text, &medium));
    EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&text));
    FORMATETC onDisk = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_ISTREAM};
    EXPECT_EQ(DV_E_FORMATETC, data->GetData(&onDisk, &medium));
    FORMATETC icon = {CF_HDROP, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL};
    EXPECT_EQ(DV_E_FORMATETC, data->QueryGetData(&icon));

    IEnumFORMATETC* formats = nullptr;
    ASSERT_EQ(S_OK, data->EnumFormatEtc(DATADIR_GET, &formats));
    std::vector<CLIPFORMAT> listed;
    FORMATETC next;
    ULONG got = 0;
    while (formats->Next(1, &next, &got) == S_OK && got == 1)
        listed.push_back(next.cfFormat);
    formats->Release();
    EXPECT_EQ((std::vector<CLIPFORMAT>{CF_HDROP, preferredEffectFormat()}), listed);
}

TEST(COleDataSource, ABlockCachedAgainUnderItsFormatTakesThePlaceOfTheFirst) {
    COleDataSource source;
    offerFile(source, "C:\\a.txt");
    source.CacheGlobalData(preferredEffectFormat(), dwordBlock(DROPEFFECT_MOVE));
    FORMATETC effect = formatOf(preferredEffectFormat());
    STGMEDIUM medium{};
    ASSERT_EQ(S_OK, source.GetDataObject()->GetData(&effect, &medium));
    EXPECT_EQ(std::string("\2\0\0\0", 4), bytesOf(medium.hGlobal));
    ReleaseStgMedium(&medium);
}

TEST(COleDataSource, TheDataObjectOutlivesItsSourceForWhoeverHoldsIt) {
    IDataObject* kept = nullptr;
    {
        COleDataSource source;
        offerFile(source, "C:\\a.txt");
        kept = source.GetDataObject();
        kept->AddRef();
    }
    FORMATETC files = formatOf(CF_HDROP);
    STGMEDIUM medium{};
    ASSERT_EQ(S_OK, kept->GetData(&files, &medium));
    EXPECT_EQ(30u, GlobalSize(medium.hGlobal));
    ReleaseStgMedium(&medium);
    EXPECT_EQ(0u, kept->Release());
}

namespace {

// Records what OLE asked of the drop source.
class CRecordingDropSource : public COleDropSource {
public:
    std::atomic<int> queries{0};
    std::atomic<int> feedbacks{0};

    SCODE QueryContinueDrag(BOOL escapePressed, DWORD keyState) override {
        ++queries;
        return COleDropSource::QueryContinueDrag(escapePressed, keyState);
    }
    SCODE GiveFeedback(DROPEFFECT effect) override {
        ++feedbacks;
        return COleDropSource::GiveFeedback(effect);
    }
};

// A drop target taking copies; reads the file list and the preferred effect at the drop.
class FileDropTarget : public IDropTarget {
public:
    std::string droppedPath;
    DWORD preferredEffect = 0;
    std::atomic<int> drops{0};
    std::atomic<int> enters{0};

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
            *object = static_cast<IDropTarget*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override {
        ++enters;
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL, DWORD* effect) override {
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DragLeave() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
        FORMATETC files = formatOf(CF_HDROP);
        STGMEDIUM medium{};
        if (data->GetData(&files, &medium) == S_OK) {
            char path[MAX_PATH] = "";
            DragQueryFileA(static_cast<HDROP>(medium.hGlobal), 0, path, sizeof path);
            droppedPath = path;
            ReleaseStgMedium(&medium);
        }
        FORMATETC preferred = formatOf(preferredEffectFormat());
        if (data->GetData(&preferred, &medium) == S_OK) {
            preferredEffect = *static_cast<DWORD*>(GlobalLock(medium.hGlobal));
            GlobalUnlock(medium.hGlobal);
            ReleaseStgMedium(&medium);
        }
        ++drops;
        *effect &= DROPEFFECT_COPY;
        return S_OK;
    }
};

// Shared by the test (the driver) and the drag thread.
struct DragScene {
    CEvent ready{FALSE, TRUE};
    CEvent ended{FALSE, TRUE};
    std::atomic<bool> waiting{false};   // the source's button handler is about to drag
    std::atomic<DROPEFFECT> effect{static_cast<DROPEFFECT>(-1)};
    std::atomic<BOOL> dragStarted{FALSE};
    std::atomic<DWORD> buttonDrop{0}, buttonCancel{0};
    std::atomic<int> queries{-1};
    std::atomic<HWND> sourceWnd{nullptr}, targetWnd{nullptr};
    // Drag with the plain drop source and the source window's rectangle as start rectangle.
    std::atomic<bool> plainSourceInWindow{false};
    FileDropTarget target;
};

// Drags the file out when the left button goes down on it.
class CDragSourceWnd : public CPlainTopWnd {
public:
    CDragSourceWnd(const RECT& rect, DragScene* scene) : CPlainTopWnd(rect), scene_(scene) {}

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnLButtonDown(UINT, POINT) {
        COleDataSource data;
        offerFile(data, "C:\\a.txt");
        CRecordingDropSource source;
        scene_->waiting = true;
        RECT window;
        GetWindowRect(&window);
        DROPEFFECT effect = scene_->plainSourceInWindow
                                ? data.DoDragDrop(DROPEFFECT_COPY | DROPEFFECT_MOVE, &window, nullptr)
                                : data.DoDragDrop(DROPEFFECT_COPY, nullptr, &source);
        scene_->dragStarted = source.m_bDragStarted;
        scene_->buttonDrop = source.m_dwButtonDrop;
        scene_->buttonCancel = source.m_dwButtonCancel;
        scene_->queries = source.queries.load();
        scene_->effect = effect;
        scene_->ended.SetEvent();
    }

private:
    DragScene* scene_;
};
const CWnd::MessageEntry CDragSourceWnd::messageMap[] = {
    on<WM_LBUTTONDOWN, &CDragSourceWnd::OnLButtonDown>(),
    endOfMap(CWnd::messageMap),
};

// The drag's own user-interface thread: OLE started by the thread, the source as its main
// window, a drop target beside it.
class CDragThread : public CWinThread {
public:
    explicit CDragThread(DragScene* scene) : scene_(scene) { m_bAutoDelete = FALSE; }

    BOOL InitInstance() override {
        OleInitialize(nullptr);
        source_ = new CDragSourceWnd({100, 100, 300, 300}, scene_);
        target_ = new CPlainTopWnd({500, 100, 700, 300});
        RegisterDragDrop(target_->m_hWnd, &scene_->target);
        m_pMainWnd = source_;
        scene_->sourceWnd = source_->m_hWnd;
        scene_->targetWnd = target_->m_hWnd;
        scene_->ready.SetEvent();
        return TRUE;
    }
    int ExitInstance() override {
        RevokeDragDrop(target_->m_hWnd);
        delete target_;
        m_pMainWnd = nullptr;
        delete source_;
        OleUninitialize();
        return CWinThread::ExitInstance();
    }

private:
    DragScene* scene_;
    CDragSourceWnd* source_ = nullptr;
    CPlainTopWnd* target_ = nullptr;
};

// Runs the drag thread for a test; the steps are the test's.
class DragRun {
public:
    DragRun() : thread_(&scene) {
        EXPECT_TRUE(thread_.CreateThread(CREATE_SUSPENDED));
        thread_.ResumeThread();
        EXPECT_TRUE(scene.ready.Lock(10000));
        movePointer(50, 50);
        SetForegroundWindow(scene.sourceWnd);
        waitFor([&] { return GetForegroundWindow() == scene.sourceWnd.load(); }, 2000);
    }
    ~DragRun() {
        // Lets go of any button a failed step left down, then ends the thread.
        mouseButton(MOUSEEVENTF_LEFTUP);
        mouseButton(MOUSEEVENTF_RIGHTUP);
        PostThreadMessageA(thread_.m_nThreadID, WM_QUIT, 0, 0);
        WaitForSingleObject(thread_.m_hThread, 20000);
    }
    // Presses the left button on the source and waits until its drag is under way.
    bool pressOnSource() {
        glidePointer(200, 200);
        mouseButton(MOUSEEVENTF_LEFTDOWN);
        return waitFor([&] { return scene.waiting.load(); }, 3000);
    }
    // Moves the held pointer over the target and lets it rest there.
    void overTarget() {
        glidePointer(600, 200, 12);
        Sleep(200);
    }
    // Drags from the source and lets go over the target; true when the drag ended.
    bool dropOnTarget() {
        if (!pressOnSource())
            return false;
        overTarget();
        mouseButton(MOUSEEVENTF_LEFTUP);
        return ended();
    }
    bool ended() { return scene.ended.Lock(10000); }

    DragScene scene;

private:
    CDragThread thread_;
};

}  // namespace

TEST(COleDataSource, DraggedFromTheSourceWindowItDropsACopyOnTheTarget) {
    DragRun run;
    ASSERT_TRUE(run.dropOnTarget());
    EXPECT_EQ(static_cast<DROPEFFECT>(DROPEFFECT_COPY), run.scene.effect.load());
    EXPECT_EQ(1, run.scene.target.drops.load());
    EXPECT_EQ("C:\\a.txt", run.scene.target.droppedPath);
    EXPECT_EQ(static_cast<DWORD>(DROPEFFECT_COPY), run.scene.target.preferredEffect);
    EXPECT_TRUE(run.scene.dragStarted);
    EXPECT_EQ(static_cast<DWORD>(MK_LBUTTON), run.scene.buttonDrop.load());
    EXPECT_EQ(static_cast<DWORD>(MK_RBUTTON), run.scene.buttonCancel.load());
    EXPECT_GT(run.scene.queries.load(), 0);
}

TEST(COleDataSource, APlainDropSourceWithAStartRectangleDropsToo) {
    DragRun run;
    run.scene.plainSourceInWindow = true;
    ASSERT_TRUE(run.dropOnTarget());
    // The target takes copies only.
    EXPECT_EQ(static_cast<DROPEFFECT>(DROPEFFECT_COPY), run.scene.effect.load());
    EXPECT_EQ(1, run.scene.target.drops.load());
    EXPECT_EQ("C:\\a.txt", run.scene.target.droppedPath);
}

// Esc, or the other button, while the pointer is over the target.
TEST(COleDataSource, EscapeOrTheRightButtonMidDragCancels) {
    struct Case {
        const char* what;
        void (*cancel)();
    };
    const Case cases[] = {
        {"Esc", [] { pressKey(VK_ESCAPE); }},
        {"right button", [] { mouseButton(MOUSEEVENTF_RIGHTDOWN); }},
    };
    for (const Case& c : cases) {
        DragRun run;
        ASSERT_TRUE(run.pressOnSource()) << c.what;
        run.overTarget();
        c.cancel();
        ASSERT_TRUE(run.ended()) << c.what;
        EXPECT_EQ(static_cast<DROPEFFECT>(DROPEFFECT_NONE), run.scene.effect.load()) << c.what;
        EXPECT_EQ(1, run.scene.target.enters.load()) << c.what;
        EXPECT_EQ(0, run.scene.target.drops.load()) << c.what;
        EXPECT_TRUE(run.scene.dragStarted) << c.what;
        EXPECT_GT(run.scene.queries.load(), 0) << c.what;
    }
}

// Within the system's drag rectangle and before its delay: a release, or the cancel button.
TEST(COleDataSource, AReleaseOrTheCancelButtonBeforeTheDragBeginsStartsNoDrag) {
    struct Case {
        const char* what;
        DWORD button;
    };
    for (const Case& c : {Case{"release", MOUSEEVENTF_LEFTUP}, Case{"cancel button", MOUSEEVENTF_RIGHTDOWN}}) {
        DragRun run;
        ASSERT_TRUE(run.pressOnSource()) << c.what;
        mouseButton(c.button);
        ASSERT_TRUE(run.ended()) << c.what;
        EXPECT_EQ(static_cast<DROPEFFECT>(DROPEFFECT_NONE), run.scene.effect.load()) << c.what;
        EXPECT_EQ(0, run.scene.queries.load()) << c.what;
        EXPECT_FALSE(run.scene.dragStarted) << c.what;
        EXPECT_EQ(0, run.scene.target.enters.load()) << c.what;
    }
}
