// The two display layers of the stage window with real child windows: where each order puts
// a display, checked in the layers' keys and in the stage's child order.
#include "StageCtrlFixture.h"

#include "CJString.h"
#include "CVector.h"

#include <gtest/gtest.h>

namespace {

typedef std::vector<std::string> Keys;

Keys alignment(StageCtrlFixture& f)
{
    CVector keys(10, 10);
    runOnWorker([&] { f.stage->lowerLayerAlignment(keys); });
    Keys texts;
    for (int i = 0; i < keys.size(); ++i)
        texts.push_back(keys.elementAt(i)->toString());
    keys.deleteAllElements();
    return texts;
}

void expectStacked(StageCtrlFixture& f, const std::string& when)
{
    EXPECT_EQ(f.expectedOrder(), f.layerChildrenFromTop()) << when;
}

} // namespace

TEST(StageCtrlLayers, EachOrderPutsTheDisplayWhereTheMoveTableSaysAndTheChildOrderFollows)
{
    StageCtrlFixture f;
    for (const char* key : {"a", "b", "c"})
        ASSERT_NE(nullptr, f.elementDisplay(key)) << key;
    ASSERT_NE(nullptr, f.cursorDisplay("r", false));
    ASSERT_EQ((Keys{"a", "b", "c"}), f.stage->lowerLayerKeys());
    ASSERT_EQ((Keys{"r"}), f.stage->upperLayerKeys());
    expectStacked(f, "made");

    struct Row {
        const char* what;
        std::function<void(IStageView&)> order;
        Keys lower;
        Keys upper;
    };
    const Row rows[] = {
        {"moveToTop of a lower key", [](IStageView& v) { v.moveToTop("a"); }, {"b", "c", "a"}, {"r"}},
        {"moveToBottom of a lower key", [](IStageView& v) { v.moveToBottom("c"); }, {"c", "b", "a"}, {"r"}},
        {"moveToTop of no key", [](IStageView& v) { v.moveToTop("x"); }, {"c", "b", "a"}, {"r"}},
        {"moveToUpperLayer of a lower key", [](IStageView& v) { v.moveToUpperLayer("b"); }, {"c", "a"}, {"b", "r"}},
        {"moveToUpperLayer of an upper key", [](IStageView& v) { v.moveToUpperLayer("r"); }, {"c", "a"}, {"b", "r"}},
        {"moveToUpperLayer of no key", [](IStageView& v) { v.moveToUpperLayer("x"); }, {"c", "a"}, {"b", "r"}},
        {"moveToTop of an upper key", [](IStageView& v) { v.moveToTop("b"); }, {"c", "a", "b"}, {"r"}},
        {"moveToBottom of an upper key",
         [](IStageView& v) {
             v.moveToUpperLayer("a");
             v.moveToBottom("a");
         },
         {"a", "c", "b"}, {"r"}},
        {"putOnTop of a lower key", [](IStageView& v) { v.putOnTop("a"); }, {"c", "b", "a"}, {"r"}},
        {"putOnTop of no key reserves the top place", [](IStageView& v) { v.putOnTop("n"); }, {"c", "b", "a", "n"}, {"r"}},
        {"moveToBottom of a reserved key", [](IStageView& v) { v.moveToBottom("n"); }, {"n", "c", "b", "a"}, {"r"}},
    };
    for (const Row& row : rows) {
        runOnWorker([&] { row.order(*f.stage); });
        f.settle();
        EXPECT_EQ(row.lower, f.stage->lowerLayerKeys()) << row.what;
        EXPECT_EQ(row.upper, f.stage->upperLayerKeys()) << row.what;
        expectStacked(f, row.what);
    }
    EXPECT_EQ(nullptr, f.stage->displayOf("n"));
}

TEST(StageCtrlLayers, PlacesReservedBeforeTheirDisplaysAreTakenByThemInOrder)
{
    StageCtrlFixture f;
    runOnWorker([&] {
        f.stage->putOnTop("a");
        f.stage->putOnTop("b");
    });
    f.settle();
    EXPECT_EQ((Keys{"a", "b"}), f.stage->lowerLayerKeys());
    EXPECT_EQ((Keys{"a", "b"}), alignment(f));
    EXPECT_TRUE(childrenFromTop(f.stage->m_hWnd).empty());

    // The later display first: the places keep the order the model gave.
    ASSERT_NE(nullptr, f.elementDisplay("b"));
    ASSERT_NE(nullptr, f.elementDisplay("a"));
    EXPECT_EQ((Keys{"a", "b"}), f.stage->lowerLayerKeys());
    ASSERT_NE(nullptr, f.stage->displayOf("a"));
    ASSERT_NE(nullptr, f.stage->displayOf("b"));
    EXPECT_EQ((std::vector<HWND>{f.stage->displayOf("b")->m_hWnd, f.stage->displayOf("a")->m_hWnd}),
              childrenFromTop(f.stage->m_hWnd));
}

TEST(StageCtrlLayers, AGrabbedContentLiesAboveTheContentsAndBelowTheCursorsAndTopsTheContentsWhenLetGo)
{
    StageCtrlFixture f;
    for (const char* key : {"a", "b", "c"})
        ASSERT_NE(nullptr, f.elementDisplay(key));
    ASSERT_NE(nullptr, f.cursorDisplay("r1", false));
    ASSERT_NE(nullptr, f.cursorDisplay("r2", false));
    CContentCtrl* a = f.contentOf("a");
    ASSERT_NE(nullptr, a);

    f.stage->OnGrabed(a);
    EXPECT_EQ((Keys{"b", "c"}), f.stage->lowerLayerKeys());
    EXPECT_EQ((Keys{"a", "r1", "r2"}), f.stage->upperLayerKeys());
    const std::vector<HWND> grabbed = f.layerChildrenFromTop();
    EXPECT_EQ(f.expectedOrder(), grabbed);
    ASSERT_EQ(5u, grabbed.size());
    EXPECT_EQ(a->m_hWnd, grabbed[2]);
    bool answer = true;
    runOnWorker([&] { answer = f.stage->isGrabed("a"); });
    EXPECT_FALSE(answer);

    f.stage->OnUnGrabed(a);
    EXPECT_EQ((Keys{"b", "c", "a"}), f.stage->lowerLayerKeys());
    EXPECT_EQ((Keys{"r1", "r2"}), f.stage->upperLayerKeys());
    const std::vector<HWND> letGo = f.layerChildrenFromTop();
    EXPECT_EQ(f.expectedOrder(), letGo);
    EXPECT_EQ(a->m_hWnd, letGo[2]);
}
