// The stage window as the model's view from other threads, the user's releases reported to
// the model, the cursor windows, and the window's end.
#include "StageCtrlFixture.h"

#include "AllocationCount.h"

#include "CIllegalArgumentException.h"
#include "CJString.h"
#include "CLocalMethod.h"
#include "CPreferenceManager.h"
#include "CStageCommand.h"
#include "CTrace.h"
#include "CVector.h"
#include "GdiRoom.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace {

typedef std::vector<std::string> Lines;

bool waitForLines(Journal& journal, size_t count)
{
    return pumpUntil([&] { return journal.entries().size() >= count; }, 5000);
}

} // namespace

TEST(StageCtrlView, ASecondDisplayForAKeyIsRefusedWithTheDuplicateExceptionAndMakesNoWindow)
{
    StageCtrlFixture f;
    IElementDisplay* first = f.elementDisplay("a");
    ASSERT_NE(nullptr, first);
    bool thrown = false;
    IElementDisplay* second = nullptr;
    runOnWorker([&] {
        try {
            second = f.stage->getElementDisplay("a");
        } catch (const CIllegalArgumentException&) {
            thrown = true;
        }
    });
    EXPECT_TRUE(thrown);
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ(1u, childrenFromTop(f.stage->m_hWnd).size());
    EXPECT_EQ(1, f.factory.made);
    EXPECT_EQ(static_cast<IContentDisplay*>(f.contentOf("a")), first);
    EXPECT_EQ((std::vector<int>{172}), playedSounds());
}

TEST(StageCtrlView, TheLowerLayerOrderIsEmptyForAnEmptyLayerAndNamesReservedPlaces)
{
    StageCtrlFixture f;
    CVector keys(10, 10);
    runOnWorker([&] { f.stage->lowerLayerAlignment(keys); });
    EXPECT_EQ(0, keys.size());
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    runOnWorker([&] { f.stage->putOnTop("b"); });
    runOnWorker([&] { f.stage->lowerLayerAlignment(keys); });
    ASSERT_EQ(2, keys.size());
    EXPECT_EQ("a", keys.elementAt(0)->toString());
    EXPECT_EQ("b", keys.elementAt(1)->toString());
    keys.deleteAllElements();
}

TEST(StageCtrlView, StatusAndInitialisationReachTheMainDialogAndTheDirectAnswersAreTheStagesOwn)
{
    StageCtrlFixture f;
    runOnWorker([&] {
        f.stage->setStatus(2);
        f.stage->onInitialized();
    });
    ASSERT_TRUE(waitForLines(f.host.calls, 2));
    EXPECT_EQ((Lines{"setStatus 2", "updateRole"}), f.host.calls.entries());
    EXPECT_EQ(2, f.stage->GetStatus());
    EXPECT_TRUE(f.stage->IsInitialized());
    EXPECT_EQ(4, f.stage->getCustomBgNumber());
    int width = 0, height = 0;
    f.stage->getStageSize(width, height);
    EXPECT_EQ(800, width);
    EXPECT_EQ(400, height);
}

TEST(StageCtrlView, APostToANameWithoutWindowIsTracedAndItsObjectFreed)
{
    useTestThreadAsUiThread();
    {
        TraceCapture trace;
        CStageCommand::postStr("NO_SUCH_WINDOW", CStageCommand::RELEASE_DISPLAY, "a");
        EXPECT_EQ(1, trace.count("postText(NO_SUCH_WINDOW")) << trace.text();
    }
    CTrace::setDumpOff();
    const long before = liveAllocations();
    CStageCommand::postStr("NO_SUCH_WINDOW", CStageCommand::RELEASE_DISPLAY, "a");
    const long after = liveAllocations();
    CTrace::setDumpOn();
    EXPECT_EQ(before, after);
}

TEST(StageCtrlView, CustomBackgroundDataWithoutBlockChangesNothing)
{
    StageCtrlFixture f;
    runOnWorker([&] { f.stage->changeCustomBgData(100, nullptr, 10, 10); });
    f.settle();
    EXPECT_FALSE(f.stage->HasCustomBgBitmap());
    EXPECT_EQ(0, f.stage->GetBackGround());
}

TEST(StageCtrlView, TheCustomBitmapIsMadeFromTheStagesCopyAfterTheCallersBlockIsGone)
{
    StageCtrlFixture f;
    runOnWorker([&] {
        std::vector<unsigned char> block(static_cast<size_t>(40 * 3) * 20, 0x7f);
        f.stage->changeCustomBgData(static_cast<unsigned>(block.size()), block.data(), 40, 20);
        std::fill(block.begin(), block.end(), 0);
    });
    EXPECT_TRUE(f.stage->HasCustomBgBitmap());
}

TEST(StageCtrlView, AfterQueriesAreDisabledEverySyncCallReturnsEmptyAtOnce)
{
    TempDir dir;
    if (isChild()) {
        int failures = 0;
        {
            StageCtrlFixture f;
            CLocalMethod::disableQuery();
            bool thrown = false;
            IElementDisplay* content = nullptr;
            IElementDisplay* cursor = nullptr;
            bool grabbed = true;
            CVector keys(10, 10);
            const DWORD start = GetTickCount();
            const bool ended = runOnWorker([&] {
                try {
                    content = f.stage->getElementDisplay("a");
                } catch (const CIllegalArgumentException&) {
                    thrown = true;
                }
                cursor = f.stage->getCursorDisplay("c", false);
                grabbed = f.stage->isGrabed("a");
                f.stage->lowerLayerAlignment(keys);
                std::vector<unsigned char> block(12, 1);
                f.stage->changeCustomBgData(12, block.data(), 2, 2);
            });
            pumpUntil([] { return false; }, 300);
            failures += !ended + thrown + (content != nullptr) + (cursor != nullptr) + grabbed + keys.size()
                        + f.stage->HasCustomBgBitmap() + !childrenFromTop(f.stage->m_hWnd).empty()
                        + (GetTickCount() - start > 3000);
        }
        std::exit(failures);
    }
    EXPECT_EQ(0, runInChild(dir));
}

TEST(StageCtrlRelease, TheTopWithoutShiftAndTheBottomWithShiftPostNothingElseTheOrderGoesToTheModel)
{
    StageCtrlFixture f;
    f.bind(true);
    for (const char* key : {"a", "b", "c"})
        ASSERT_NE(nullptr, f.elementDisplay(key));
    CContentCtrl* a = f.contentOf("a");
    CContentCtrl* b = f.contentOf("b");
    CContentCtrl* c = f.contentOf("c");
    const POINT at = {5, 5};
    f.stage->OnLButtonUp(c, 0, at);
    f.stage->OnLButtonUp(a, MK_SHIFT, at);
    f.stage->OnLButtonUp(a, 0, at);
    f.stage->OnLButtonUp(b, MK_SHIFT | MK_LBUTTON, at);
    f.stage->OnTear(b);
    ASSERT_TRUE(waitForLines(f.element->calls, 3));
    pumpUntil([] { return false; }, 200);
    EXPECT_EQ((Lines{"LOC_changeTop a", "LOC_changeBottom b", "LOC_uninstall b"}), f.element->calls.entries());
    // The window waits for the model's answer.
    EXPECT_EQ((Lines{"a", "b", "c"}), f.stage->lowerLayerKeys());
}

TEST(StageCtrlRelease, AReleaseWithoutStageIsTracedAndChangesNothing)
{
    StageCtrlFixture f;
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    ASSERT_NE(nullptr, f.elementDisplay("b"));
    TraceCapture trace;
    f.stage->OnLButtonUp(f.contentOf("a"), 0, POINT{1, 1});
    EXPECT_EQ(1, trace.count("LOC_changeTop could not be posted")) << trace.text();
}

TEST(StageCtrlCursors, TheOwnCursorIsHiddenInNoLayerAndGivenToEveryContentWindow)
{
    StageCtrlFixture f(-1, 1);
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    IElementDisplay* own = f.cursorDisplay("own", true);
    ASSERT_NE(nullptr, own);
    ASSERT_NE(nullptr, f.elementDisplay("b"));
    CCursorCtrl* cursor = f.stage->getOwnCursor();
    ASSERT_NE(nullptr, cursor);
    EXPECT_EQ(static_cast<IElementDisplay*>(cursor), own);
    EXPECT_FALSE(IsWindowVisible(cursor->m_hWnd));
    EXPECT_TRUE(f.stage->upperLayerKeys().empty());
    EXPECT_EQ((Lines{"a", "b"}), f.stage->lowerLayerKeys());
    EXPECT_EQ(cursor, f.contentOf("a")->getCursorCtrl());
    EXPECT_EQ(cursor, f.contentOf("b")->getCursorCtrl());

    // Releasing it does nothing.
    runOnWorker([&] { f.stage->releaseDisplay("own"); });
    f.settle();
    EXPECT_EQ(cursor, f.stage->getOwnCursor());
    EXPECT_TRUE(IsWindow(cursor->m_hWnd));

    f.stage->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(300, 200));
    const Lines lines = f.factory.journal.entries();
    EXPECT_EQ("cursor 1 move 1 300 200", lines.back());
}

TEST(StageCtrlCursors, ARemoteCursorIsInTheUpperLayerAndFollowsTheCursorPreferenceAndSetCursor)
{
    for (int shown : {0, 1}) {
        StageCtrlFixture f(-1, shown);
        f.window->ShowWindow(SW_SHOWNA);
        f.stage->ShowWindow(SW_SHOWNA);
        ASSERT_NE(nullptr, f.elementDisplay("a"));
        ASSERT_NE(nullptr, f.cursorDisplay("r", false));
        EXPECT_EQ((Lines{"r"}), f.stage->upperLayerKeys());
        CWnd* remote = f.stage->displayOf("r");
        ASSERT_NE(nullptr, remote);
        EXPECT_EQ(shown != 0, IsWindowVisible(remote->m_hWnd) != FALSE) << shown;
        EXPECT_EQ(remote->m_hWnd, childrenFromTop(f.stage->m_hWnd).front());
        f.stage->SetCursor(shown == 0);
        EXPECT_EQ(shown == 0, IsWindowVisible(remote->m_hWnd) != FALSE) << shown;
        // Contents stay as they are.
        EXPECT_FALSE(IsWindowVisible(f.stage->displayOf("a")->m_hWnd));
        f.window->ShowWindow(SW_HIDE);
    }
}

TEST(StageCtrlCursors, ADuplicateCursorKeyIsAnErrorAndMakesNoWindow)
{
    StageCtrlFixture f;
    ASSERT_NE(nullptr, f.cursorDisplay("r", false));
    ASSERT_NE(nullptr, f.cursorDisplay("own", true));
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    {
        TraceCapture trace;
        EXPECT_EQ(nullptr, f.cursorDisplay("r", false));
        EXPECT_EQ(nullptr, f.cursorDisplay("own", false));
        EXPECT_EQ(nullptr, f.cursorDisplay("a", true));
        EXPECT_EQ(3, trace.count("ERROR: ")) << trace.text();
    }
    // On one worker, which the first round makes known to the trace and the invoker.
    Worker worker;
    long before = 0, after = 0;
    for (int round = 0; round < 2; ++round) {
        std::atomic<bool> done{false};
        before = liveAllocations();
        worker.post([&] {
            f.stage->getCursorDisplay("r", false);
            done = true;
        });
        pumpUntil([&] { return done.load(); }, 5000);
        after = liveAllocations();
    }
    EXPECT_EQ(before, after);
    EXPECT_EQ(3, f.factory.made);
    EXPECT_EQ(2u, childrenFromTop(f.stage->m_hWnd).size() - 1);   // r and a in layers, own beside them
}

TEST(StageCtrlView, EnterGoesToTheActiveContentAndNowhereOnceItIsReleased)
{
    StageCtrlFixture f;
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    f.stage->SetActiveContent(f.contentOf("a"));
    f.stage->NotifyCR();
    ASSERT_TRUE(pumpUntil([&] { return f.factory.journal.entries().back() == "content 0 keyup 13"; }, 3000));
    runOnWorker([&] { f.stage->releaseDisplay("a"); });
    f.settle();
    EXPECT_EQ(nullptr, f.stage->displayOf("a"));
    EXPECT_EQ("content 0 deleted", f.factory.journal.entries().back());
    f.stage->NotifyCR();
    pumpUntil([] { return false; }, 100);
    EXPECT_EQ("content 0 deleted", f.factory.journal.entries().back());
    EXPECT_EQ((std::vector<int>{172, 173}), playedSounds());
}

TEST(StageCtrlView, ReleasingAKeyInNoLayerOrAReservedPlaceLeavesTheOthers)
{
    StageCtrlFixture f;
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    ASSERT_NE(nullptr, f.cursorDisplay("r", false));
    runOnWorker([&] {
        f.stage->putOnTop("n");
        f.stage->releaseDisplay("x");
        f.stage->releaseDisplay("n");
        f.stage->releaseDisplay("r");
    });
    f.settle();
    EXPECT_EQ((Lines{"a"}), f.stage->lowerLayerKeys());
    EXPECT_TRUE(f.stage->upperLayerKeys().empty());
    EXPECT_EQ(1u, childrenFromTop(f.stage->m_hWnd).size());
    // A cursor window goes without sound.
    EXPECT_EQ((std::vector<int>{172}), playedSounds());
}

TEST(StageCtrlEnd, DestructionLeavesNoChildAndTwoThousandRoundsKeepGdiWorking)
{
    StageCtrlFixture f;
    std::vector<unsigned char> block(static_cast<size_t>(64 * 3) * 32, 0x40);
    int roomBefore = 0;
    // Two thousand rounds of traces would take longer than the rounds.
    CTrace::setDumpOff();
    for (int round = 0; round < 2000; ++round) {
        // Every other round with the program's own windows.
        CStageDisplayFactory::set(round % 2 == 0 ? &f.factory : nullptr);
        f.remake();
        for (const char* key : {"a", "b", "c"})
            ASSERT_NE(nullptr, f.elementDisplay(key));
        ASSERT_NE(nullptr, f.cursorDisplay("own", true));
        ASSERT_NE(nullptr, f.cursorDisplay("r", false));
        runOnWorker([&] {
            f.stage->putOnTop("reserved");
            f.stage->changeCustomBgData(static_cast<unsigned>(block.size()), block.data(), 64, 32);
            f.stage->changeBackGround(4);
        });
        f.settle();
        ASSERT_TRUE(f.stage->HasCustomBgBitmap());
        ASSERT_EQ(5u, childrenFromTop(f.stage->m_hWnd).size());
        f.stage.reset();
        ASSERT_EQ(nullptr, GetWindow(f.window->m_hWnd, GW_CHILD)) << round;
        if (round == 10)
            roomBefore = freeGdiRoom();
    }
    CStageDisplayFactory::set(&f.factory);
    CTrace::setDumpOn();
    int deleted = 0;
    for (const std::string& line : f.factory.journal.entries())
        deleted += line.size() > 8 && line.compare(line.size() - 8, 8, " deleted") == 0;
    EXPECT_EQ(f.factory.made, deleted);
    EXPECT_EQ(5000, f.factory.made);
    EXPECT_GE(freeGdiRoom(), roomBefore - 50);
}

TEST(StageDisplays, TheProgramsWindowsTakeTheirPlaceThroughTheirCommandMessageUnderNamesOfTheirOwn)
{
    StageCtrlFixture f(-1, 1, false);
    f.window->ShowWindow(SW_SHOWNA);
    f.stage->ShowWindow(SW_SHOWNA);
    IElementDisplay* content = f.elementDisplay("a");
    IElementDisplay* remote = f.cursorDisplay("r", false);
    IElementDisplay* own = f.cursorDisplay("own", true);
    ASSERT_NE(nullptr, content);
    ASSERT_NE(nullptr, remote);
    ASSERT_NE(nullptr, own);
    auto* contentWnd = dynamic_cast<CContentCtrl*>(content);
    auto* remoteWnd = dynamic_cast<CCursorCtrl*>(remote);
    auto* ownWnd = dynamic_cast<CCursorCtrl*>(own);
    ASSERT_NE(nullptr, contentWnd);
    ASSERT_NE(nullptr, remoteWnd);
    ASSERT_NE(nullptr, ownWnd);
    EXPECT_FALSE(IsWindowVisible(contentWnd->m_hWnd));
    EXPECT_EQ(ownWnd, contentWnd->getCursorCtrl());
    EXPECT_NE(contentWnd->getWindowName(), remoteWnd->getWindowName());
    EXPECT_NE(remoteWnd->getWindowName(), ownWnd->getWindowName());
    EXPECT_NE(f.stage->getSelfObjectId(), contentWnd->getWindowName());

    runOnWorker([&] {
        content->setLocation("30 40");
        remote->setLocation("5 6");
        own->setLocation("7 8");
        content->setDecoration("1");
        remote->setLocation("not a point");
    });
    f.settle();
    const auto placeOf = [&](CWnd* w) {
        RECT rect;
        GetWindowRect(w->m_hWnd, &rect);
        MapWindowPoints(nullptr, f.stage->m_hWnd, reinterpret_cast<POINT*>(&rect), 2);
        return std::vector<LONG>{rect.left, rect.top, rect.right, rect.bottom};
    };
    EXPECT_EQ((std::vector<LONG>{30, 40, 150, 130}), placeOf(contentWnd));
    EXPECT_TRUE(IsWindowVisible(contentWnd->m_hWnd));
    EXPECT_EQ((std::vector<LONG>{5, 6, 25, 26}), placeOf(remoteWnd));
    EXPECT_TRUE(IsWindowVisible(remoteWnd->m_hWnd));
    EXPECT_EQ((std::vector<LONG>{7, 8, 27, 28}), placeOf(ownWnd));
    EXPECT_FALSE(IsWindowVisible(ownWnd->m_hWnd));

    f.stage->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(300, 200));
    EXPECT_EQ(300, ownWnd->getCurrentPoint().x);
    EXPECT_EQ(200, ownWnd->getCurrentPoint().y);
    EXPECT_EQ(1, ownWnd->getMoveCount());
    f.window->ShowWindow(SW_HIDE);
}
