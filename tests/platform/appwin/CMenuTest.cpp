// Menus from tavlang: items, submenus, checks and greys, tracking with real keys, destruction.
#include "CMenu.h"
#include "SentInput.h"
#include "TestSupport.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string itemText(HMENU menu, UINT position) {
    char text[64] = "";
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

std::vector<UINT> idsOf(const CMenu& menu) {
    std::vector<UINT> ids;
    for (int i = 0; i < menu.GetMenuItemCount(); ++i)
        ids.push_back(menu.GetMenuItemID(i));
    return ids;
}

// Records the commands of its map's range.
class CCommandRecordingWnd : public CPlainTopWnd {
public:
    using CPlainTopWnd::CPlainTopWnd;
    std::vector<UINT> commands;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnMenuCommand(UINT id) { commands.push_back(id); }
};
const CWnd::MessageEntry CCommandRecordingWnd::messageMap[] = {
    onCommandRange<32769, 32812, &CCommandRecordingWnd::OnMenuCommand>(),
    endOfMap(CWnd::messageMap),
};

}  // namespace

TEST(CMenu, MainMenuButtonsPopupHasItsItemsAndSubmenus) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(154));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(nullptr, popup);
    EXPECT_EQ(11, popup->GetMenuItemCount());
    EXPECT_EQ((std::vector<UINT>{static_cast<UINT>(-1), static_cast<UINT>(-1), 32769, 32770, 32771,
                                 32772, 0, 32773, 32774, 0, 32775}),
              idsOf(*popup));
    EXPECT_EQ("Stage", itemText(*popup, 0));
    EXPECT_EQ("Frame", itemText(*popup, 1));
    CMenu* stage = popup->GetSubMenu(0);
    CMenu* frame = popup->GetSubMenu(1);
    ASSERT_NE(nullptr, stage);
    ASSERT_NE(nullptr, frame);
    EXPECT_EQ((std::vector<UINT>{32790, 32791, 32792, 32793, 32794}), idsOf(*stage));
    EXPECT_EQ((std::vector<UINT>{32810, 32811, 32812}), idsOf(*frame));
    // Asked again, the same object.
    EXPECT_EQ(stage, popup->GetSubMenu(0));
    EXPECT_EQ(nullptr, popup->GetSubMenu(2));
}

TEST(CMenu, ChecksAndGreysReadBackByCommand) {
    UiThreadScope ui;
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(154));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(nullptr, popup);
    CMenu* stage = popup->GetSubMenu(0);
    ASSERT_NE(nullptr, stage);

    EXPECT_EQ(static_cast<UINT>(MF_UNCHECKED), popup->CheckMenuItem(32771, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(static_cast<UINT>(MF_ENABLED), popup->EnableMenuItem(32769, MF_BYCOMMAND | MF_GRAYED));
    stage->CheckMenuItem(32792, MF_BYCOMMAND | MF_CHECKED);
    stage->EnableMenuItem(32794, MF_BYCOMMAND | MF_GRAYED);

    EXPECT_TRUE(popup->GetMenuState(32771, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(popup->GetMenuState(32772, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(popup->GetMenuState(32769, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_FALSE(popup->GetMenuState(32770, MF_BYCOMMAND) & MF_GRAYED);
    // Items of a submenu are found from the menu above it too, as the system searches.
    EXPECT_TRUE(popup->GetMenuState(32792, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(stage->GetMenuState(32794, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(static_cast<UINT>(MF_CHECKED), stage->CheckMenuItem(32792, MF_BYCOMMAND | MF_UNCHECKED));
    EXPECT_FALSE(stage->GetMenuState(32792, MF_BYCOMMAND) & MF_CHECKED);
    // No such item.
    EXPECT_EQ(static_cast<UINT>(-1), popup->CheckMenuItem(40000, MF_BYCOMMAND | MF_CHECKED));
    EXPECT_EQ(static_cast<UINT>(-1), popup->GetMenuState(40000, MF_BYCOMMAND));
}

TEST(CMenu, ContentAndChatMenusLoad) {
    UiThreadScope ui;
    struct Case {
        UINT id;
        std::vector<UINT> items;
    };
    for (const Case& c : {Case{145, {32871}}, Case{146, {32872, 32873}}, Case{296, {32839}}}) {
        CMenu menu;
        ASSERT_TRUE(menu.LoadMenu(c.id)) << c.id;
        CMenu* popup = menu.GetSubMenu(0);
        ASSERT_NE(nullptr, popup) << c.id;
        EXPECT_EQ(c.items, idsOf(*popup)) << c.id;
    }
    CMenu missing;
    EXPECT_FALSE(missing.LoadMenu(9999));
    EXPECT_EQ(nullptr, missing.m_hMenu);
    EXPECT_EQ(nullptr, missing.GetSubMenu(0));
}

TEST(CMenu, LoadedMenusAreDestroyedWithTheirObjects) {
    UiThreadScope ui;
    // The system's count of user objects is not kept under Wine (GetGuiResources answers 0),
    // and the free room of the handle table is shared with every other program of the Wine
    // server: every handle and its submenus' are checked gone instead.
    std::vector<HMENU> made;
    for (int round = 0; round < 1000; ++round) {
        CMenu menu;
        ASSERT_TRUE(menu.LoadMenu(154));
        CMenu* popup = menu.GetSubMenu(0);
        ASSERT_NE(nullptr, popup);
        made.push_back(menu.m_hMenu);
        made.push_back(popup->m_hMenu);
        made.push_back(popup->GetSubMenu(0)->m_hMenu);
        if (round % 2) {
            // Loading again lets the first menu go.
            HMENU first = menu.m_hMenu;
            ASSERT_TRUE(menu.LoadMenu(145));
            EXPECT_FALSE(IsMenu(first));
            made.push_back(menu.m_hMenu);
        }
    }
    int left = 0;
    for (HMENU menu : made)
        left += IsMenu(menu) ? 1 : 0;
    EXPECT_EQ(0, left);
    // A submenu's object does not destroy what its menu owns.
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(154));
    HMENU popup = menu.GetSubMenu(0)->m_hMenu;
    menu.GetSubMenu(0)->DestroyMenu();
    EXPECT_TRUE(IsMenu(popup));
    EXPECT_EQ(popup, menu.GetSubMenu(0)->m_hMenu);
}

namespace {

// Tracks menu 154's popup over the window while a thread presses the keys; the commands the
// window's map received.
std::vector<UINT> trackWithKeys(const std::vector<WORD>& keys) {
    UiThreadScope ui;
    CCommandRecordingWnd owner({300, 300, 500, 400});
    SetForegroundWindow(owner.m_hWnd);
    CMenu menu;
    EXPECT_TRUE(menu.LoadMenu(154));
    CMenu* popup = menu.GetSubMenu(0);
    if (!popup)
        return {};
    std::atomic<bool> shown{false};
    std::atomic<bool> done{false};
    std::thread driver([&] {
        // The menu's window, class "#32768", is there once the tracking runs.
        shown = waitFor([] { return findOwnWindow("#32768", nullptr, true) != nullptr; });
        if (shown) {
            Sleep(100);
            for (WORD key : keys)
                pressKey(key);
        }
        // Closes the menu in any case, so that a failure does not hang the test.
        if (!waitFor([&] { return done.load(); }, 3000))
            PostMessageA(owner.m_hWnd, WM_CANCELMODE, 0, 0);
    });
    popup->TrackPopupMenu(TPM_LEFTALIGN | TPM_LEFTBUTTON, 320, 320, &owner);
    done = true;
    driver.join();
    EXPECT_TRUE(shown);
    pumpMessages(200);
    return owner.commands;
}

}  // namespace

TEST(CMenu, TrackedPopupDeliversTheChosenItemToTheWindowsMap) {
    // Down: "Stage", "Frame", "My Stage..."; Enter chooses it.
    EXPECT_EQ(std::vector<UINT>{32769}, trackWithKeys({VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}));
}

TEST(CMenu, TrackedPopupClosedWithEscapeDeliversNothing) {
    EXPECT_EQ(std::vector<UINT>{}, trackWithKeys({VK_DOWN, VK_ESCAPE}));
}
