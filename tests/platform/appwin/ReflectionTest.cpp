// A control's colour and scroll messages reflected to its object; commands and notifications
// through the virtual handlers.
#include "CBrush.h"
#include "CDC.h"
#include "CEdit.h"
#include "CRect.h"
#include "CSliderCtrl.h"
#include "UiThreadScope.h"

#include <commctrl.h>
#include <richedit.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr COLORREF kDarkGrey = RGB(0x32, 0x32, 0x32);

// White on dark grey, as the chat input paints itself.
class CColourEdit : public CEdit {
public:
    CBrush brush{kDarkGrey};
    std::vector<UINT> kinds;   // the CTLCOLOR_ types seen

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    HBRUSH CtlColor(CDC* dc, UINT kind) {
        kinds.push_back(kind);
        dc->SetTextColor(RGB(255, 255, 255));
        dc->SetBkColor(kDarkGrey);
        return brush;
    }
};
const CWnd::MessageEntry CColourEdit::messageMap[] = {
    onCtlColorReflect<&CColourEdit::CtlColor>(),
    endOfMap(CEdit::messageMap),
};

}  // namespace

TEST(Reflection, EditPaintsWithItsObjectsBrushWhenTheParentHasNoColourHandler) {
    for (bool reflected : {true, false}) {
        SCOPED_TRACE(reflected ? "edit with a reflected colour" : "plain edit");
        CPlainTopWnd parent({700, 100, 900, 160});
        ASSERT_TRUE(parent.ModifyStyleEx(0, WS_EX_TOPMOST, SWP_NOMOVE | SWP_NOSIZE));
        CColourEdit colourEdit;
        CEdit plainEdit;
        CEdit& edit = reflected ? colourEdit : plainEdit;
        ASSERT_TRUE(edit.Create(WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, CRect(0, 0, 200, 60), &parent, 1001));
        parent.SetWindowPos(&CWnd::wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        edit.RedrawWindow();
        pumpMessages(200);
        CPoint probe(150, 30);
        edit.ClientToScreen(probe);
        EXPECT_EQ(reflected ? kDarkGrey : GetSysColor(COLOR_WINDOW), screenPixel(probe.x, probe.y));
        if (reflected) {
            ASSERT_FALSE(colourEdit.kinds.empty());
            EXPECT_EQ(static_cast<UINT>(CTLCOLOR_EDIT), colourEdit.kinds.back());
        }
    }
}

namespace {

// Records its reflected scroll messages.
class CRecordingSlider : public CSliderCtrl {
public:
    std::vector<std::string> calls;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void HScroll(UINT code, UINT) { calls.push_back("reflected " + std::to_string(code)); }
};
const CWnd::MessageEntry CRecordingSlider::messageMap[] = {
    onHScrollReflect<&CRecordingSlider::HScroll>(),
    endOfMap(CSliderCtrl::messageMap),
};

// Handles WM_HSCROLL itself and may leave it to the default processing afterwards.
class CScrollParent : public CWnd {
public:
    std::vector<std::string>* calls = nullptr;
    bool passOn = false;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnHScroll(WPARAM wParam, LPARAM) {
        calls->push_back("parent " + std::to_string(LOWORD(wParam)));
        return passOn ? Default() : 0;
    }
};
const CWnd::MessageEntry CScrollParent::messageMap[] = {
    on<WM_HSCROLL, &CScrollParent::OnHScroll>(),
    endOfMap(CWnd::messageMap),
};

}  // namespace

TEST(Reflection, TrackbarScrollReachesTheSliderOnlyThroughDefaultProcessing) {
    const struct {
        const char* name;
        bool parentHandles;
        bool passOn;
        std::vector<std::string> expected;
    } cases[] = {
        {"parent without handler", false, false, {"reflected 1"}},
        {"parent handler calls Default", true, true, {"parent 1", "reflected 1"}},
        {"parent handler keeps it", true, false, {"parent 1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CRecordingSlider slider;
        CScrollParent handling;
        CPlainTopWnd plain({0, 0, 1, 1}, WS_POPUP);
        CWnd* parent = &plain;
        if (c.parentHandles) {
            handling.calls = &slider.calls;
            handling.passOn = c.passOn;
            ASSERT_TRUE(handling.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr));
            parent = &handling;
        }
        ASSERT_TRUE(slider.Create(WS_CHILD | WS_VISIBLE | TBS_HORZ, CRect(0, 0, 150, 30), parent, 2000));
        slider.SetRange(0, 100);
        // The trackbar's own key handling tells its parent: a line to the right.
        slider.SendMessage(WM_KEYDOWN, VK_RIGHT, 0);
        std::vector<std::string> calls;
        for (const std::string& call : slider.calls) {
            if (call != "parent 8" && call != "reflected 8")   // SB_ENDSCROLL on key-up only
                calls.push_back(call);
        }
        EXPECT_EQ(c.expected, calls);
        EXPECT_EQ(1, slider.GetPos());
    }
}

TEST(Reflection, APlainTrackbarLeavesTheParentsDefaultAsBefore) {
    // A trackbar object without a reflected entry, and one with no object at all.
    for (bool bound : {true, false}) {
        SCOPED_TRACE(bound ? "bound to a plain CSliderCtrl" : "no object");
        std::vector<std::string> calls;
        CScrollParent parent;
        parent.calls = &calls;
        parent.passOn = true;
        ASSERT_TRUE(parent.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 200, 50, nullptr, nullptr));
        CSliderCtrl slider;
        HWND trackbar = nullptr;
        if (bound) {
            ASSERT_TRUE(slider.Create(WS_CHILD | WS_VISIBLE | TBS_HORZ, CRect(0, 0, 150, 30), &parent, 2000));
            trackbar = slider.m_hWnd;
        } else {
            trackbar = CreateWindowExA(0, TRACKBAR_CLASSA, "", WS_CHILD | WS_VISIBLE | TBS_HORZ, 0, 0, 150, 30,
                                       parent.m_hWnd, reinterpret_cast<HMENU>(2001), nullptr, nullptr);
            ASSERT_NE(nullptr, trackbar);
        }
        SendMessageA(trackbar, TBM_SETRANGEMAX, TRUE, 100);
        SendMessageA(trackbar, WM_KEYDOWN, VK_RIGHT, 0);
        // The parent's handler ran, its default processing answered, and the trackbar moved.
        EXPECT_EQ((std::vector<std::string>{"parent 1"}), calls);
        EXPECT_EQ(0, parent.SendMessage(WM_HSCROLL, MAKEWPARAM(SB_PAGERIGHT, 0), reinterpret_cast<LPARAM>(trackbar)));
        EXPECT_EQ(1, SendMessageA(trackbar, TBM_GETPOS, 0, 0));
        if (!bound)
            DestroyWindow(trackbar);
    }
}

namespace {

// Sees commands and notifications before its map.
class CRoutingWnd : public CWnd {
public:
    std::vector<std::string> calls;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override {
        calls.push_back("OnCommand " + std::to_string(LOWORD(wParam)));
        if (LOWORD(wParam) >= 1025 && LOWORD(wParam) <= 1029)
            return TRUE;   // consumed here
        return CWnd::OnCommand(wParam, lParam);
    }
    BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        calls.push_back("OnNotify " + std::to_string(wParam) + " " + std::to_string(header->idFrom));
        if (header->idFrom != 1017)
            return CWnd::OnNotify(wParam, lParam, result);
        *result = 5;
        return TRUE;
    }
    void OnMapped() { calls.push_back("map 32839"); }
    void OnInRange() { calls.push_back("map 1026"); }
};
const CWnd::MessageEntry CRoutingWnd::messageMap[] = {
    onCommand<32839, &CRoutingWnd::OnMapped>(),
    onCommand<1026, &CRoutingWnd::OnInRange>(),
    endOfMap(CWnd::messageMap),
};

}  // namespace

TEST(Reflection, CommandsAndNotificationsGoThroughTheVirtualHandlersFirst) {
    CRoutingWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr));
    const struct {
        const char* name;
        UINT message;
        WPARAM wParam;
        UINT notifyId;
        std::vector<std::string> expected;
        LRESULT result;
    } cases[] = {
        {"command of the map", WM_COMMAND, 32839, 0, {"OnCommand 32839", "map 32839"}, 0},
        {"command the override consumes", WM_COMMAND, 1026, 0, {"OnCommand 1026"}, 0},
        {"command nobody has", WM_COMMAND, 4711, 0, {"OnCommand 4711"}, 0},
        {"notification the override answers", WM_NOTIFY, 1017, 1017, {"OnNotify 1017 1017"}, 5},
        {"notification left to default", WM_NOTIFY, 1001, 1001, {"OnNotify 1001 1001"}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        wnd.calls.clear();
        NMHDR header{wnd.m_hWnd, c.notifyId, static_cast<UINT>(EN_LINK)};
        LPARAM lParam = c.message == WM_NOTIFY ? reinterpret_cast<LPARAM>(&header) : 0;
        EXPECT_EQ(c.result, wnd.SendMessage(c.message, c.wParam, lParam));
        EXPECT_EQ(c.expected, wnd.calls);
    }
}

namespace {
// Answers colours with its brush unless told to give none; records vertical scrolls.
class CReflectingStatic : public CWnd {
public:
    CBrush brush{RGB(9, 9, 9)};
    bool giveNone = false;
    std::vector<std::string> calls;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    HBRUSH CtlColor(CDC*, UINT kind) {
        calls.push_back("colour " + std::to_string(kind));
        return giveNone ? nullptr : static_cast<HBRUSH>(brush);
    }
    void VScroll(UINT code, UINT position) {
        calls.push_back("vscroll " + std::to_string(code) + " " + std::to_string(position));
    }
};
const CWnd::MessageEntry CReflectingStatic::messageMap[] = {
    onCtlColorReflect<&CReflectingStatic::CtlColor>(),
    onVScrollReflect<&CReflectingStatic::VScroll>(),
    endOfMap(CWnd::messageMap),
};
}  // namespace

TEST(Reflection, GoesToTheControlTheMessageNames) {
    CPlainTopWnd parent({0, 0, 100, 100}, WS_POPUP);
    CReflectingStatic control;
    ASSERT_TRUE(control.CreateEx(0, "STATIC", "", WS_CHILD, CRect(0, 0, 10, 10), &parent, 7));
    HDC dc = GetDC(control.m_hWnd);
    const LRESULT ours = reinterpret_cast<LRESULT>(static_cast<HBRUSH>(control.brush));
    const LPARAM controlParam = reinterpret_cast<LPARAM>(control.m_hWnd);
    const WPARAM dcParam = reinterpret_cast<WPARAM>(dc);

    EXPECT_EQ(ours, parent.SendMessage(WM_CTLCOLORSTATIC, dcParam, controlParam));
    EXPECT_EQ(ours, parent.SendMessage(WM_CTLCOLORBTN, dcParam, controlParam));
    EXPECT_EQ((std::vector<std::string>{"colour 6", "colour 3"}), control.calls);

    // No brush from the control: the parent's default colours.
    control.giveNone = true;
    LRESULT fallback = parent.SendMessage(WM_CTLCOLORSTATIC, dcParam, controlParam);
    EXPECT_NE(0, fallback);
    EXPECT_NE(ours, fallback);
    control.giveNone = false;

    // The parent's own colour, and its own scroll bars, name no control.
    control.calls.clear();
    EXPECT_NE(ours, parent.SendMessage(WM_CTLCOLORDLG, dcParam, reinterpret_cast<LPARAM>(parent.m_hWnd)));
    parent.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 40), 0);
    EXPECT_TRUE(control.calls.empty());

    parent.SendMessage(WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 40), controlParam);
    EXPECT_EQ((std::vector<std::string>{"vscroll 5 40"}), control.calls);

    // Sent to the control itself, nothing is reflected.
    control.calls.clear();
    control.SendMessage(WM_CTLCOLORSTATIC, dcParam, controlParam);
    EXPECT_TRUE(control.calls.empty());
    ReleaseDC(control.m_hWnd, dc);
}
