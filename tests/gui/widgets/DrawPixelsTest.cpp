// What the drawing object paints, read back from a 32-bit picture in memory: the fitted picture
// with its black bands, inversion, frames, cross, label, marks and icon.
#include "CDrawObject.h"
#include "CRect.h"
#include "CTrace.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const Rgb BLACK{0, 0, 0};
const Rgb WHITE{255, 255, 255};
const COLORREF BACKGROUND = RGB(0x55, 0x55, 0x55);
const COLORREF FRAME_COLOUR = RGB(10, 200, 30);

Rgb inverted(Rgb c)
{
    return {static_cast<BYTE>(255 - c.r), static_cast<BYTE>(255 - c.g), static_cast<BYTE>(255 - c.b)};
}

// A picture of the pattern, owned by the object.
void givePattern(CDrawObject& object, int width, int height)
{
    object.setBitmap(patternBitmap(width, height));
    ASSERT_EQ(width, object.getSize().cx);
    ASSERT_EQ(height, object.getSize().cy);
}

struct FitCase {
    const char* name;
    int width, height;   // of the picture, in a 120 × 90 rectangle
    BYTE flags;
    int x, y;            // where the picture must land
};

} // namespace

TEST(CDrawObjectPixels, FittedPictureIsCentredBetweenBlackBands)
{
    const FitCase cases[] = {
        {"wide picture", 120, 60, 0, 0, 15},
        {"tall picture", 45, 90, 0, 38, 0},
        {"inverted", 120, 60, CDrawObject::INVERTED, 0, 15},
        {"filling the rectangle", 120, 90, 0, 0, 0},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(c.name);
        CDrawObject object;
        givePattern(object, c.width, c.height);
        Canvas canvas(120, 90, BACKGROUND);
        object.draw(canvas.dc(), CRect(0, 0, 120, 90), c.flags, "0");
        int wrong = 0;
        for (int y = 0; y < 90; ++y) {
            for (int x = 0; x < 120; ++x) {
                const bool inPicture = x >= c.x && x < c.x + c.width && y >= c.y && y < c.y + c.height;
                Rgb expected = BLACK;
                if (inPicture) {
                    expected = patternAt(x - c.x, y - c.y);
                    if (c.flags & CDrawObject::INVERTED)
                        expected = inverted(expected);
                }
                if (canvas.at(x, y) != expected && ++wrong <= 3)
                    ADD_FAILURE() << "pixel " << x << ", " << y;
            }
        }
        EXPECT_EQ(0, wrong);
    }
}

namespace {

struct FrameCase {
    BYTE flags;
    int inside;   // rows and columns of the frame inside the rectangle
};

} // namespace

// The frame's pen runs along the rectangle's outermost rows and columns, in the set colour.
TEST(CDrawObjectPixels, FramesInTheObjectsColour)
{
    const FrameCase cases[] = {{CDrawObject::FRAME_THIN, 3}, {CDrawObject::FRAME_THICK, 4}};
    const CRect rect(10, 10, 130, 100);
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        CDrawObject object;
        givePattern(object, 120, 90);
        object.setColor(FRAME_COLOUR);
        Canvas canvas(140, 110, BACKGROUND);
        object.drawAt(canvas.dc(), 10, 10, &rect, c.flags, "3");
        const Rgb frame = rgbOf(FRAME_COLOUR);
        for (int k = 0; k < c.inside; ++k) {
            SCOPED_TRACE(k);
            for (int along : {20, 50, 80}) {
                EXPECT_EQ(frame, canvas.at(rect.left + along, rect.top + k));
                EXPECT_EQ(frame, canvas.at(rect.left + along, rect.bottom - 1 - k));
                EXPECT_EQ(frame, canvas.at(rect.left + k, rect.top + along));
                EXPECT_EQ(frame, canvas.at(rect.right - 1 - k, rect.top + along));
            }
        }
        const int k = c.inside;   // the picture starts right inside the frame
        EXPECT_EQ(patternAt(50, k), canvas.at(rect.left + 50, rect.top + k));
        EXPECT_EQ(patternAt(50, 89 - k), canvas.at(rect.left + 50, rect.bottom - 1 - k));
        EXPECT_EQ(patternAt(k, 50), canvas.at(rect.left + k, rect.top + 50));
        EXPECT_EQ(patternAt(119 - k, 50), canvas.at(rect.right - 1 - k, rect.top + 50));
    }
}

TEST(CDrawObjectPixels, DottedFrameIsOnePixelWide)
{
    const CRect rect(10, 10, 130, 100);
    CDrawObject object;
    givePattern(object, 120, 90);
    object.setColor(FRAME_COLOUR);
    Canvas canvas(140, 110, BACKGROUND);
    object.drawAt(canvas.dc(), 10, 10, &rect, CDrawObject::FRAME_DOTTED, "3");
    const Rgb frame = rgbOf(FRAME_COLOUR);
    int top = 0, left = 0, bottom = 0, right = 0;
    // Inside the edges the picture is untouched.
    for (int x = rect.left; x < rect.right; ++x) {
        top += canvas.at(x, rect.top) == frame;
        bottom += canvas.at(x, rect.bottom - 1) == frame;
        if (x > rect.left && x < rect.right - 1) {
            EXPECT_EQ(patternAt(x - rect.left, 1), canvas.at(x, rect.top + 1)) << x;
            EXPECT_EQ(patternAt(x - rect.left, 88), canvas.at(x, rect.bottom - 2)) << x;
        }
    }
    for (int y = rect.top; y < rect.bottom; ++y) {
        left += canvas.at(rect.left, y) == frame;
        right += canvas.at(rect.right - 1, y) == frame;
        if (y > rect.top && y < rect.bottom - 1) {
            EXPECT_EQ(patternAt(1, y - rect.top), canvas.at(rect.left + 1, y)) << y;
            EXPECT_EQ(patternAt(118, y - rect.top), canvas.at(rect.right - 2, y)) << y;
        }
    }
    // Dots and gaps: about every other pixel or two of the edges.
    for (int count : {top, bottom})
        EXPECT_TRUE(count >= 120 / 4 && count <= 120 * 3 / 4) << count;
    for (int count : {left, right})
        EXPECT_TRUE(count >= 90 / 4 && count <= 90 * 3 / 4) << count;
}

TEST(CDrawObjectPixels, CrossThroughTheMiddleInTheNumbersColour)
{
    CDrawObject object;
    givePattern(object, 120, 90);
    Canvas canvas(120, 90, BACKGROUND);
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), CDrawObject::CROSS, "3");
    const Rgb red = rgbOf(0x0000FF);   // the colour of 3
    // Along each line, away from where they cross.
    for (int along : {5, 15, 25, 35, 75, 85}) {
        SCOPED_TRACE(along);
        for (int x = 57; x <= 63; ++x)
            EXPECT_EQ(red, canvas.at(x, along)) << x;
        EXPECT_NE(red, canvas.at(56, along));
        EXPECT_NE(red, canvas.at(64, along));
        for (int y = 42; y <= 48; ++y)
            EXPECT_EQ(red, canvas.at(along, y)) << y;
        EXPECT_NE(red, canvas.at(along, 41));
        EXPECT_NE(red, canvas.at(along, 49));
    }
    // No frame without its bits: the object's colour is nowhere.
    EXPECT_EQ(patternAt(0, 0), canvas.at(0, 0));
}

namespace {

struct WhiteBox {
    int left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;   // inclusive
    bool empty() const { return right < 0; }
};

WhiteBox whitePixels(const Canvas& canvas)
{
    WhiteBox box;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.at(x, y) == WHITE) {
                box.left = std::min(box.left, x);
                box.right = std::max(box.right, x);
                box.top = std::min(box.top, y);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

} // namespace

TEST(CDrawObjectPixels, LabelIsWhiteAndCentredAndTheContextKeepsItsTextColour)
{
    CDrawObject object;
    givePattern(object, 120, 90);
    object.setLabel("Tavelin");
    Canvas canvas(120, 90, BACKGROUND);
    canvas.dc()->SetTextColor(RGB(1, 2, 3));
    canvas.dc()->SetBkMode(TRANSPARENT);
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0, "0");
    const WhiteBox box = whitePixels(canvas);
    ASSERT_FALSE(box.empty());
    EXPECT_LE(std::abs(box.left - (119 - box.right)), 2) << box.left << " " << box.right;
    EXPECT_LE(box.top, 45);
    EXPECT_GE(box.bottom, 45);
    EXPECT_LE(std::abs(box.top - (89 - box.bottom)), 6) << box.top << " " << box.bottom;
    EXPECT_EQ(RGB(1, 2, 3), canvas.dc()->GetTextColor());
    EXPECT_EQ(OPAQUE, canvas.dc()->GetBkMode());
}

TEST(CDrawObjectPixels, TooLongLabelIsCutWithAnEllipsis)
{
    CDrawObject object;
    givePattern(object, 120, 90);
    object.setLabel(std::string(40, 'M'));
    Canvas canvas(120, 90, BACKGROUND);
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0, "0");
    const WhiteBox box = whitePixels(canvas);
    ASSERT_FALSE(box.empty());
    EXPECT_LE(box.left, 6);   // the line takes the whole width
    // The last glyphs are dots on the base line: the rightmost white columns hold no pixel in
    // the upper half of the line, where every M has its strokes.
    const int middle = (box.top + box.bottom) / 2;
    for (int x = box.right - 1; x <= box.right; ++x)
        for (int y = box.top; y < middle; ++y)
            EXPECT_NE(WHITE, canvas.at(x, y)) << x << ", " << y;
}

TEST(CDrawObjectPixels, MarksAreSquaresOfTheNumbersColourWithTheirLightPixelsWhite)
{
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    const BitmapPixels chat(ui.resources(), L"IDB_CHAT_ICON");
    const BitmapPixels grab(ui.resources(), L"IDB_GRABED_ICON");
    ASSERT_TRUE(chat.valid());
    ASSERT_TRUE(grab.valid());
    CDrawObject object;
    givePattern(object, 120, 90);
    object.loadChatMark("IDB_CHAT_ICON");
    object.loadGrabMark("IDB_GRABED_ICON");
    struct MarkCase {
        BYTE flags;
        bool chat, grab;
    } const cases[] = {
        {CDrawObject::CHAT_MARK | CDrawObject::GRAB_MARK, true, true},
        {CDrawObject::CHAT_MARK, true, false},
        {CDrawObject::GRAB_MARK, false, true},
    };
    const Rgb colour = rgbOf(0xFF00FF);   // the colour of 5
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        Canvas canvas(120, 90, BACKGROUND);
        object.draw(canvas.dc(), CRect(0, 0, 120, 90), c.flags, "5");
        struct Place {
            const BitmapPixels& mark;
            int x, y;
            bool shown;
        } const places[] = {{chat, 3, 90 - 3 - chat.height(), c.chat},
                            {grab, 120 - 3 - grab.width(), 90 - 3 - grab.height(), c.grab}};
        for (const Place& p : places) {
            int wrong = 0;
            for (int y = 0; y < p.mark.height(); ++y)
                for (int x = 0; x < p.mark.width(); ++x) {
                    Rgb expected = patternAt(p.x + x, p.y + y);
                    if (p.shown)
                        expected = p.mark.at(x, y) == WHITE ? WHITE : colour;
                    wrong += canvas.at(p.x + x, p.y + y) != expected;
                }
            EXPECT_EQ(0, wrong) << "mark at " << p.x << ", " << p.y;
            // Just outside the square: the picture.
            EXPECT_EQ(patternAt(p.x - 1, p.y), canvas.at(p.x - 1, p.y));
            EXPECT_EQ(patternAt(p.x, p.y - 1), canvas.at(p.x, p.y - 1));
            EXPECT_EQ(patternAt(p.x + p.mark.width(), p.y), canvas.at(p.x + p.mark.width(), p.y));
            EXPECT_EQ(patternAt(p.x, 87), canvas.at(p.x, 87));
        }
    }
}

// A mask that is one-bit already is used as it is: its light pixels turn white, its dark ones
// leave the target.
TEST(CDrawObjectPixels, MaskedDrawingThroughAOneBitMask)
{
    // 16 × 4, rows of two bytes: the left half of each row light.
    const BYTE rows[] = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00};
    HBITMAP mask = CreateBitmap(16, 4, 1, 1, rows);
    ASSERT_NE(nullptr, mask);
    HBITMAP source = CDrawObject::createFilledBitmap(RGB(0, 0, 255), 16, 4);
    ASSERT_NE(nullptr, source);
    Canvas canvas(20, 6, RGB(0, 128, 0));
    CDrawObject::drawMasked(canvas.dc(), 2, 1, 16, 4, source, mask);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool light = x >= 2 && x < 10 && y >= 1 && y < 5;
            EXPECT_EQ(light ? WHITE : rgbOf(RGB(0, 128, 0)), canvas.at(x, y)) << x << ", " << y;
        }
    EXPECT_EQ(static_cast<DWORD>(OBJ_BITMAP), GetObjectType(mask));   // the caller's still
    DeleteObject(mask);
    DeleteObject(source);
}

TEST(CDrawObjectPixels, IconAtThreeThree)
{
    CDrawObject object;
    givePattern(object, 120, 90);
    HICON lent = solidIcon(RGB(200, 30, 90));
    object.lendIcon(lent);
    Canvas canvas(120, 90, BACKGROUND);
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0, "0");
    const Rgb icon = rgbOf(RGB(200, 30, 90));
    EXPECT_EQ(icon, canvas.at(3, 3));
    EXPECT_EQ(icon, canvas.at(34, 34));
    EXPECT_EQ(patternAt(2, 3), canvas.at(2, 3));
    EXPECT_EQ(patternAt(3, 2), canvas.at(3, 2));
    EXPECT_EQ(patternAt(35, 34), canvas.at(35, 34));
    EXPECT_EQ(patternAt(34, 35), canvas.at(34, 35));
    // An owned icon goes before the lent one.
    object.setIcon(solidIcon(RGB(20, 130, 190)));
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0, "0");
    EXPECT_EQ(rgbOf(RGB(20, 130, 190)), canvas.at(10, 10));
    DestroyIcon(lent);
}

// Without a rectangle only the picture and the icon are painted, whatever the flags say.
TEST(CDrawObjectPixels, WithoutARectangleOnlyPictureAndIcon)
{
    UiThreadScope ui;
    CDrawObject object;
    givePattern(object, 100, 70);
    object.loadChatMark("IDB_CHAT_ICON");
    object.loadGrabMark("IDB_GRABED_ICON");
    object.setLabel("label");
    object.setColor(FRAME_COLOUR);
    object.setIcon(solidIcon(RGB(200, 30, 90)));
    Canvas canvas(120, 90, BACKGROUND);
    object.drawAt(canvas.dc(), 0, 0, nullptr, 0xFF, "3");
    int wrong = 0;
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) {
            Rgb expected = rgbOf(BACKGROUND);
            if (x >= 3 && x < 35 && y >= 3 && y < 35)
                expected = rgbOf(RGB(200, 30, 90));
            else if (x < 100 && y < 70)
                expected = inverted(patternAt(x, y));   // flag 8 still inverts the copy
            wrong += canvas.at(x, y) != expected;
        }
    EXPECT_EQ(0, wrong);
}

TEST(CDrawObjectPixels, NothingToPaintLeavesTheContextAlone)
{
    TraceCapture trace;
    CDrawObject object;
    object.setLabel("label");
    Canvas canvas(40, 30, BACKGROUND);
    object.draw(canvas.dc(), CRect(0, 0, 40, 30), 0x3F, "3");
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(rgbOf(BACKGROUND), canvas.at(x, y)) << x << ", " << y;
    EXPECT_EQ(1, trace.count("[ CDrawObject ] drawAt: no bitmap to paint"));
    EXPECT_EQ(0, trace.count("ERROR"));
}
