// Real stage windows of three terminals of one in-process session, all on the test's thread as
// the user-interface thread: contents installed on one terminal show on every stage, and the
// users' releases leave the contents in one order on every screen.
#include "StageCtrlFixture.h"

#include "CLeadImage.h"
#include "CLocalMethod.h"
#include "CPreferenceManager.h"
#include "CStage.h"
#include "ContentFiles.h"
#include "SessionHub.h"
#include "StageFixtures.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

namespace {

const RECT STAGE_RECT = {0, 27, 800, 427};

// One terminal: its preferences, a hidden test window with the stage window, and its stage.
struct WindowTerminal {
    WindowTerminal(HubTerminal& hubTerminal, bool master) : terminal(hubTerminal)
    {
        CoInitialize(nullptr);   // the manager releases one when it goes
        prefs = std::make_unique<CPreferenceManager>(key.path(), "764A7520-9D2C-11d4-AFDB-00105A67EDD0",
                                                     hubTerminal.terminalId(), "Nick " + hubTerminal.terminalId(),
                                                     "C:\\res");
        window = std::make_unique<CPlainTopWnd>(RECT{0, 0, 800, 451}, WS_POPUP);
        view = std::make_unique<CStageCtrl>(STAGE_RECT, window.get(), &host, prefs.get(), nullptr,
                                            CStageCtrl::STAGE_ID);
        gui = std::make_unique<RecordingGui>(view.get());
        stage = std::make_unique<CStage>(&hubTerminal, master, gui.get(), prefs.get(), nullptr);
        stage->start(master ? "M_STAGE" : "S_STAGE");
    }

    // The contents' keys from the top of the child order down.
    std::vector<std::string> contentsFromTop(const std::vector<std::string>& keys)
    {
        std::vector<std::string> order;
        for (HWND child : childrenFromTop(view->m_hWnd))
            for (const std::string& key : keys)
                if (CWnd* display = view->displayOf(key))
                    if (display->m_hWnd == child)
                        order.push_back(key);
        return order;
    }

    HubTerminal& terminal;
    RegistryKey key;
    std::unique_ptr<CPreferenceManager> prefs;
    std::unique_ptr<CPlainTopWnd> window;
    RecordingStageHost host;
    std::unique_ptr<CStageCtrl> view;
    std::unique_ptr<RecordingGui> gui;
    std::unique_ptr<CStage> stage;
};

} // namespace

TEST(StageCtrlSession, ContentsInstalledOnOneTerminalShowOnEveryStageAndReleasesLeaveOneOrder)
{
    useTestThreadAsUiThread();
    UiThreadScope ui;
    TempDir dir;
    CLeadImage loader;
    SessionHub hub("H");
    std::vector<std::unique_ptr<WindowTerminal>> terminals;
    terminals.emplace_back(new WindowTerminal(hub.host(), true));
    hub.host().plugIn("", terminals[0]->stage.get());
    for (const char* id : {"A", "B"}) {
        terminals.emplace_back(new WindowTerminal(hub.join(id), false));
        WindowTerminal& joined = *terminals.back();
        joined.terminal.plugIn("", joined.stage.get());
        ASSERT_TRUE(pumpUntil([&] { return joined.stage->isSynchronized(); }, 20000)) << id;
    }
    // Every stage shows the cursors of the two others.
    for (auto& t : terminals)
        ASSERT_TRUE(pumpUntil([&] { return t->view->upperLayerKeys().size() == 2; }, 20000))
            << t->terminal.terminalId();

    WindowTerminal& a = *terminals[1];
    std::vector<std::string> keys;
    for (int i = 0; i < 3; ++i) {
        const std::string path = ContentFiles::picture(dir.path(), "picture" + std::to_string(i) + ".bmp");
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
        const std::string attribute = std::to_string(data.nFileSizeLow);
        const std::string desc = CStage::makeElementDesc(
            std::to_string(10 + 200 * i) + " " + std::to_string(20 + 50 * i), CStage::SIZE_FIELD, CStage::MOTION_FIELD,
            std::to_string(a.stage->getReferNum()), attribute + " *" + path + " *" + a.prefs->getNickname(), path,
            120, 90);
        CLocalMethod::postMethodStr(a.stage->getObjectId(), "LOC_install", desc);
        keys.push_back(desc);
        // One after the other.
        ASSERT_TRUE(pumpUntil([&] { return a.view->displayOf(desc) != nullptr; }, 20000)) << i;
    }
    for (auto& t : terminals) {
        ASSERT_TRUE(pumpUntil(
            [&] {
                return std::all_of(keys.begin(), keys.end(), [&](const std::string& k) { return t->view->displayOf(k); });
            },
            20000))
            << t->terminal.terminalId();
        EXPECT_EQ(keys, t->view->lowerLayerKeys()) << t->terminal.terminalId();
        EXPECT_EQ(std::vector<std::string>(keys.rbegin(), keys.rend()), t->contentsFromTop(keys))
            << t->terminal.terminalId();
    }

    // A release on a joined terminal goes through the host to every stage.
    WindowTerminal& b = *terminals[2];
    b.view->OnLButtonUp(dynamic_cast<CContentCtrl*>(b.view->displayOf(keys[0])), 0, POINT{5, 5});
    const std::vector<std::string> moved = {keys[1], keys[2], keys[0]};
    for (auto& t : terminals)
        EXPECT_TRUE(pumpUntil([&] { return t->view->lowerLayerKeys() == moved; }, 20000)) << t->terminal.terminalId();
    // With Shift, to the bottom.
    terminals[0]->view->OnLButtonUp(dynamic_cast<CContentCtrl*>(terminals[0]->view->displayOf(keys[2])), MK_SHIFT,
                                    POINT{5, 5});
    const std::vector<std::string> lowered = {keys[2], keys[1], keys[0]};
    for (auto& t : terminals) {
        EXPECT_TRUE(pumpUntil([&] { return t->view->lowerLayerKeys() == lowered; }, 20000)) << t->terminal.terminalId();
        EXPECT_EQ(std::vector<std::string>(lowered.rbegin(), lowered.rend()), t->contentsFromTop(keys));
    }

    std::mt19937 random(20261211);
    for (int round = 0; round < 30; ++round) {
        WindowTerminal& t = *terminals[random() % 3];
        const std::string& k = keys[random() % 3];
        const UINT flags = random() % 2 ? MK_SHIFT : 0;
        auto* content = dynamic_cast<CContentCtrl*>(t.view->displayOf(k));
        ASSERT_NE(nullptr, content);
        t.view->OnLButtonUp(content, flags, POINT{5, 5});
        pumpUntil([] { return false; }, 30);
    }
    // Settled: every stage in the same order, which also stays so for a while.
    const auto agreed = [&] {
        const std::vector<std::string> order = terminals[0]->contentsFromTop(keys);
        for (auto& t : terminals)
            if (t->contentsFromTop(keys) != order ||
                t->view->lowerLayerKeys() != std::vector<std::string>(order.rbegin(), order.rend()))
                return false;
        return true;
    };
    ASSERT_TRUE(pumpUntil(agreed, 20000));
    pumpUntil([] { return false; }, 1000);
    EXPECT_TRUE(agreed());
    for (auto& t : terminals)
        EXPECT_EQ(3u, t->contentsFromTop(keys).size());

    for (auto t = terminals.rbegin(); t != terminals.rend(); ++t)
        (*t)->terminal.close();
    pumpUntil([] { return false; }, 300);
    for (auto t = terminals.rbegin(); t != terminals.rend(); ++t)
        (*t)->stage->end();
    terminals.clear();
}
