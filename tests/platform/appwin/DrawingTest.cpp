// Device contexts and drawing objects: pixels in a DIB section, selections put back, no handle
// left behind, painting a window.
#include "BitmapPixels.h"
#include "GdiRoom.h"
#include "CBitmap.h"
#include "CBrush.h"
#include "CClientDC.h"
#include "CDC.h"
#include "CFont.h"
#include "CPaintDC.h"
#include "CPen.h"
#include "CRect.h"
#include "CRgn.h"
#include "CWinApp.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A top-down 32-bit DIB section whose pixels the test reads directly.
struct Dib {
    Dib(int width, int height) : width(width), height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* pixels = nullptr;
        bitmap.Attach(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
        bits = static_cast<const DWORD*>(pixels);
    }
    Rgb at(int x, int y) const {
        GdiFlush();
        DWORD bgra = bits[static_cast<size_t>(y) * width + x];
        return {static_cast<BYTE>(bgra >> 16), static_cast<BYTE>(bgra >> 8), static_cast<BYTE>(bgra)};
    }
    int width, height;
    CBitmap bitmap;
    const DWORD* bits = nullptr;
};

constexpr Rgb kBlack{0, 0, 0};
Rgb rgbOf(COLORREF colour) {
    return {GetRValue(colour), GetGValue(colour), GetBValue(colour)};
}

}  // namespace

TEST(CDC, MemoryDcDrawsBitmapsRectanglesLinesAndRegionFrames) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    const BitmapPixels expected(ui.resources(), L"IDB_TRASH_ON0");
    ASSERT_TRUE(expected.valid());
    const int w = expected.width(), h = expected.height();
    Dib dib(w + 70, h + 20);
    ASSERT_NE(nullptr, dib.bits);
    CDC memory;
    ASSERT_TRUE(memory.CreateCompatibleDC(nullptr));
    ASSERT_NE(nullptr, memory.SelectObject(&dib.bitmap));

    // The resource's picture, copied at (5, 5).
    CBitmap trash;
    ASSERT_TRUE(trash.LoadBitmap("IDB_TRASH_ON0"));
    BITMAP info{};
    trash.GetBitmap(&info);
    EXPECT_EQ(w, info.bmWidth);
    EXPECT_EQ(h, info.bmHeight);
    {
        CDC source;
        ASSERT_TRUE(source.CreateCompatibleDC(&memory));
        source.SelectObject(&trash);
        ASSERT_TRUE(memory.BitBlt(5, 5, w, h, &source, 0, 0, SRCCOPY));
    }
    int wrong = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            wrong += dib.at(5 + x, 5 + y) != expected.at(x, y);
    EXPECT_EQ(0, wrong);
    EXPECT_EQ(kBlack, dib.at(4, 5));
    EXPECT_EQ(kBlack, dib.at(5 + w, 5 + h - 1));

    const int x0 = w + 10;   // right of the picture
    // A filled rectangle: right and bottom edges outside.
    CBrush green(RGB(10, 200, 30));
    memory.FillRect(CRect(x0, 0, x0 + 4, 3), &green);
    EXPECT_EQ(rgbOf(RGB(10, 200, 30)), dib.at(x0, 0));
    EXPECT_EQ(rgbOf(RGB(10, 200, 30)), dib.at(x0 + 3, 2));
    EXPECT_EQ(kBlack, dib.at(x0 + 4, 0));
    EXPECT_EQ(kBlack, dib.at(x0, 3));
    memory.FillSolidRect(x0 + 10, 0, 2, 2, RGB(1, 2, 3));
    EXPECT_EQ(rgbOf(RGB(1, 2, 3)), dib.at(x0 + 11, 1));
    EXPECT_EQ(kBlack, dib.at(x0 + 12, 1));

    // A pen line: its last point is not drawn.
    CPen red(PS_SOLID, 1, RGB(200, 0, 0));
    memory.SelectObject(&red);
    memory.MoveTo(x0, 6);
    memory.LineTo(x0 + 20, 6);
    EXPECT_EQ(rgbOf(RGB(200, 0, 0)), dib.at(x0, 6));
    EXPECT_EQ(rgbOf(RGB(200, 0, 0)), dib.at(x0 + 19, 6));
    EXPECT_EQ(kBlack, dib.at(x0 + 20, 6));
    EXPECT_EQ(kBlack, dib.at(x0, 7));

    // A framed region: its outermost pixels only.
    CRgn region;
    ASSERT_TRUE(region.CreateRectRgn(x0, 10, x0 + 10, 18));
    CBrush blue(RGB(0, 0, 250));
    EXPECT_TRUE(memory.FrameRgn(&region, &blue, 1, 1));
    const Rgb frame = rgbOf(RGB(0, 0, 250));
    EXPECT_EQ(frame, dib.at(x0, 10));
    EXPECT_EQ(frame, dib.at(x0 + 9, 17));
    EXPECT_EQ(frame, dib.at(x0 + 9, 12));
    EXPECT_EQ(kBlack, dib.at(x0 + 1, 11));
    EXPECT_EQ(kBlack, dib.at(x0 + 10, 12));
    EXPECT_EQ(kBlack, dib.at(x0 + 3, 18));
}

TEST(CDC, FirstSelectionsArePutBackWhenItGoes) {
    HDC hdc = CreateCompatibleDC(nullptr);
    ASSERT_NE(nullptr, hdc);
    const UINT kinds[] = {OBJ_BITMAP, OBJ_BRUSH, OBJ_PEN, OBJ_FONT};
    HGDIOBJ before[4];
    for (int i = 0; i < 4; ++i)
        before[i] = GetCurrentObject(hdc, kinds[i]);
    CBitmap bitmap1, bitmap2;
    CBrush brush1(RGB(1, 1, 1)), brush2(RGB(2, 2, 2));
    CPen pen1(PS_SOLID, 1, 0), pen2(PS_DOT, 1, 0);
    CFont font1, font2;
    ASSERT_TRUE(bitmap1.CreateBitmap(4, 4, 1, 1, nullptr));
    ASSERT_TRUE(bitmap2.CreateBitmap(4, 4, 1, 1, nullptr));
    ASSERT_TRUE(font1.CreateFont(15, 0, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS, 0, 2, 0, "Arial"));
    LOGFONTA logFont{};
    logFont.lfHeight = -11;
    lstrcpyA(logFont.lfFaceName, "Arial");
    ASSERT_TRUE(font2.CreateFontIndirect(&logFont));
    {
        CDC dc;
        ASSERT_TRUE(dc.Attach(hdc));
        EXPECT_FALSE(dc.Attach(hdc));
        // Each kind twice: the second selection replaced the first, not the DC's own.
        for (CGdiObject* object : std::vector<CGdiObject*>{&bitmap1, &brush1, &pen1, &font1, &bitmap2, &brush2, &pen2, &font2})
            ASSERT_NE(nullptr, dc.SelectObject(object));
        EXPECT_EQ(bitmap2.m_hObject, GetCurrentObject(hdc, OBJ_BITMAP));
        EXPECT_EQ(font2.m_hObject, GetCurrentObject(hdc, OBJ_FONT));
    }
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(kinds[i]);
        EXPECT_EQ(before[i], GetCurrentObject(hdc, kinds[i]));
    }
    // The DC was the test's: still there.
    EXPECT_EQ(static_cast<DWORD>(OBJ_MEMDC), GetObjectType(hdc));
    {
        // Detach lets go as it is.
        CDC dc;
        dc.Attach(hdc);
        dc.SelectObject(&brush1);
        EXPECT_EQ(hdc, dc.Detach());
    }
    EXPECT_EQ(brush1.m_hObject, GetCurrentObject(hdc, OBJ_BRUSH));
    SelectObject(hdc, before[1]);
    DeleteDC(hdc);
}

TEST(CGdiObject, OwnsItsHandleUntilDetached) {
    HGDIOBJ handle = nullptr;
    {
        CBrush brush(RGB(3, 4, 5));
        ASSERT_NE(nullptr, brush.m_hObject);
        EXPECT_FALSE(brush.CreateSolidBrush(RGB(0, 0, 0)));   // holds one already
        handle = brush.m_hObject;
    }
    EXPECT_EQ(0u, GetObjectType(handle));   // deleted with its object
    CPen pen;
    EXPECT_FALSE(pen.DeleteObject());
    ASSERT_TRUE(pen.CreatePen(PS_SOLID, 1, 0));
    handle = pen.Detach();
    EXPECT_EQ(nullptr, pen.m_hObject);
    EXPECT_EQ(static_cast<DWORD>(OBJ_PEN), GetObjectType(handle));
    CPen other;
    EXPECT_TRUE(other.Attach(handle));
    EXPECT_TRUE(other.DeleteObject());
    EXPECT_EQ(0u, GetObjectType(handle));
}

namespace {

// Paints its client area red.
class CRedWnd : public CWnd {
public:
    int paints = 0;

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint() {
        CPaintDC dc(this);
        CRect client;
        GetClientRect(client);
        dc.FillSolidRect(client, RGB(255, 0, 0));
        ++paints;
    }
};
const CWnd::MessageEntry CRedWnd::messageMap[] = {
    on<WM_PAINT, &CRedWnd::OnPaint>(),
    endOfMap(CWnd::messageMap),
};

// One use of every drawing class.
void drawingRound(CRedWnd& wnd, HMODULE resources) {
    CClientDC screen(nullptr);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(&screen, 8, 8);
    CBitmap picture;
    picture.LoadBitmap("IDB_TRASH_ON0");
    CDC memory, source;
    memory.CreateCompatibleDC(&screen);
    source.CreateCompatibleDC(&memory);
    memory.SelectObject(&bitmap);
    source.SelectObject(&picture);
    memory.BitBlt(0, 0, 8, 8, &source, 0, 0, SRCCOPY);
    CBrush brush(RGB(1, 2, 3));
    CPen pen(PS_SOLID, 5, RGB(4, 5, 6));
    CFont font;
    font.CreateFont(15, 0, 0, 0, 600, 0, 0, 0, DEFAULT_CHARSET, OUT_TT_PRECIS, 0, 2, 0, "Arial");
    CRgn region, other;
    region.CreateRectRgn(0, 0, 6, 6);
    other.CreateRectRgn(3, 3, 8, 8);
    region.CombineRgn(&region, &other, RGN_OR);
    memory.SelectObject(&brush);
    memory.SelectObject(&pen);
    memory.SelectObject(&font);
    memory.FillRect(CRect(0, 0, 4, 4), &brush);
    memory.FrameRgn(&region, &brush, 1, 1);
    memory.MoveTo(0, 0);
    memory.LineTo(7, 7);
    CRect text(0, 0, 8, 8);
    memory.DrawText("x", text, DT_CENTER);
    {
        CClientDC client(&wnd);
        client.SelectObject(&pen);
        client.Rectangle(0, 0, 4, 4);
    }
    {
        wnd.Invalidate();
        CPaintDC paint(&wnd);
        paint.SelectObject(&brush);
        paint.PatBlt(0, 0, 2, 2, PATCOPY);
    }
    (void)resources;
}

}  // namespace

TEST(CDC, ThousandRoundsOfEveryDrawingClassLeaveNoObjectBehind) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CRedWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, nullptr, "", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr));
    drawingRound(wnd, ui.resources());   // first uses may set up caches of the system
    const int before = freeGdiRoom();
    ASSERT_GT(before, 1000);
    for (int round = 0; round < 1000; ++round)
        drawingRound(wnd, ui.resources());
    EXPECT_EQ(before, freeGdiRoom());
}

TEST(CPaintDC, WindowPaintedRedReadsRedFromTheScreen) {
    CRedWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(WS_EX_TOPMOST, nullptr, "", WS_POPUP | WS_VISIBLE, 700, 300, 100, 60,
                             nullptr, nullptr));
    wnd.UpdateWindow();
    pumpMessages(150);
    EXPECT_GT(wnd.paints, 0);
    EXPECT_EQ(RGB(255, 0, 0), screenPixel(750, 330));
    EXPECT_EQ(RGB(255, 0, 0), screenPixel(700, 300));
    EXPECT_EQ(RGB(255, 0, 0), screenPixel(799, 359));
}
