// What the drawing object owns and frees, where it loads its pictures from, and that many
// objects leave no drawing object of the system behind.
#include "CDrawObject.h"
#include "CRect.h"
#include "TestSupport.h"
#include "UiThreadScope.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>


namespace {

bool isBitmap(HBITMAP bitmap)
{
    return GetObjectType(bitmap) == OBJ_BITMAP;
}

} // namespace

TEST(CDrawObject, StartsEmptyWithTheColourOfZero)
{
    CDrawObject object;
    EXPECT_EQ(0xFF80C0u, object.getColor());
    EXPECT_EQ(0, object.getSize().cx);
    EXPECT_EQ(0, object.getSize().cy);
}

TEST(CDrawObject, LentBitmapOutlivesTheObject)
{
    HBITMAP lent = patternBitmap(30, 20);
    {
        CDrawObject object;
        object.lendBitmap(lent);
        EXPECT_EQ(30, object.getSize().cx);
        EXPECT_EQ(20, object.getSize().cy);
        Canvas canvas(30, 20, RGB(0, 0, 0));
        object.drawAt(canvas.dc(), 0, 0);
        EXPECT_EQ(patternAt(29, 19), canvas.at(29, 19));
    }
    EXPECT_TRUE(isBitmap(lent));
    DeleteObject(lent);
}

TEST(CDrawObject, OwnedBitmapSetTwiceFreesTheFirst)
{
    HBITMAP first = patternBitmap(10, 10);
    HBITMAP second = patternBitmap(12, 8);
    {
        CDrawObject object;
        object.setBitmap(first);
        object.setBitmap(second);
        EXPECT_FALSE(isBitmap(first));
        EXPECT_TRUE(isBitmap(second));
        EXPECT_EQ(12, object.getSize().cx);
        // The same handle again is kept, not freed.
        object.setBitmap(second);
        EXPECT_TRUE(isBitmap(second));
    }
    EXPECT_FALSE(isBitmap(second));
}

TEST(CDrawObject, SettingABitmapLetsGoOfTheLentOne)
{
    HBITMAP lent = patternBitmap(30, 20);
    CDrawObject object;
    object.lendBitmap(lent);
    object.setBitmap(patternBitmap(5, 6));
    EXPECT_EQ(5, object.getSize().cx);
    EXPECT_TRUE(isBitmap(lent));
    // A lent bitmap over an owned one is painted, and its size is the painted size.
    object.lendBitmap(lent);
    EXPECT_EQ(30, object.getSize().cx);
    DeleteObject(lent);
}

TEST(CDrawObject, ABitmapWhoseDescriptionCannotBeReadKeepsTheSize)
{
    CDrawObject object;
    object.setBitmap(patternBitmap(12, 8));
    HBITMAP gone = patternBitmap(3, 3);
    DeleteObject(gone);
    TraceCapture trace;
    object.lendBitmap(gone);
    EXPECT_EQ(1, trace.count("ERROR: [ CDrawObject ] store: the bitmap's description cannot be read"));
    EXPECT_EQ(12, object.getSize().cx);
    EXPECT_EQ(8, object.getSize().cy);
}

TEST(CDrawObject, LoadingAMissingNameKeepsTheBitmapWithAnErrorLine)
{
    UiThreadScope ui;
    const BitmapPixels trash(ui.resources(), L"IDB_TRASH_ON0");
    ASSERT_TRUE(trash.valid());
    CDrawObject object;
    object.loadBitmap("IDB_TRASH_ON0");
    ASSERT_EQ(trash.width(), object.getSize().cx);
    ASSERT_EQ(trash.height(), object.getSize().cy);
    HBITMAP lent = patternBitmap(30, 20);
    object.lendBitmap(lent);
    TraceCapture trace;
    object.loadBitmap("IDB_NO_SUCH_PICTURE");
    EXPECT_EQ(1, trace.count("ERROR: [ CDrawObject ] loadBitmap: no bitmap IDB_NO_SUCH_PICTURE"));
    // The lent bitmap was let go; the owned one is painted again, at its own size.
    EXPECT_EQ(trash.width(), object.getSize().cx);
    EXPECT_EQ(trash.height(), object.getSize().cy);
    Canvas canvas(trash.width(), trash.height(), RGB(0, 0, 0));
    object.drawAt(canvas.dc(), 0, 0);
    int wrong = 0;
    for (int y = 0; y < trash.height(); ++y)
        for (int x = 0; x < trash.width(); ++x)
            wrong += canvas.at(x, y) != trash.at(x, y);
    EXPECT_EQ(0, wrong);
    trace.clear();
    object.loadChatMark("IDB_NO_SUCH_MARK");
    object.loadGrabMark("IDB_NO_SUCH_MARK");
    EXPECT_EQ(1, trace.count("ERROR: [ CDrawObject ] loadChatMark: no bitmap IDB_NO_SUCH_MARK"));
    EXPECT_EQ(1, trace.count("ERROR: [ CDrawObject ] loadGrabMark: no bitmap IDB_NO_SUCH_MARK"));
    EXPECT_TRUE(isBitmap(lent));
    DeleteObject(lent);
}

TEST(CDrawObject, AFileOfTheNameIsPreferredToTheResource)
{
    UiThreadScope ui;
    TempDir dir;
    ASSERT_TRUE(writeBmpFile(dir.file("IDB_TRASH_ON0"), 10, 7, std::vector<Rgb>(70, Rgb{20, 40, 250})));
    HBITMAP loaded = CDrawObject::loadImage("IDB_TRASH_ON0");
    ASSERT_NE(nullptr, loaded);
    DIBSECTION section{};
    EXPECT_EQ(static_cast<int>(sizeof section), GetObjectA(loaded, sizeof section, &section));   // a DIB section
    DeleteObject(loaded);
    CDrawObject object;
    object.loadBitmap("IDB_TRASH_ON0");
    EXPECT_EQ(10, object.getSize().cx);
    EXPECT_EQ(7, object.getSize().cy);
    Canvas canvas(10, 7, RGB(0, 0, 0));
    object.drawAt(canvas.dc(), 0, 0);
    EXPECT_EQ((Rgb{20, 40, 250}), canvas.at(9, 6));
    EXPECT_EQ(nullptr, CDrawObject::loadImage("IDB_NOT_THERE"));
}

namespace {

// One object with every kind of thing it owns, painted once with every decoration.
void objectRound()
{
    CDrawObject object;
    object.loadBitmap("IDB_ANYFILE_THUMB");
    object.setBitmap(patternBitmap(120, 60));
    object.loadChatMark("IDB_CHAT_ICON");
    object.loadGrabMark("IDB_GRABED_ICON");
    object.setIcon(solidIcon(RGB(1, 2, 3)));
    object.setLabel("label");
    Canvas canvas(120, 90, RGB(0, 0, 0));
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0x3F, "4");
    object.draw(canvas.dc(), CRect(0, 0, 120, 90), 0x32, "4");
    HBITMAP filled = CDrawObject::createFilledBitmap(RGB(5, 6, 7), 8, 8);
    DeleteObject(filled);
}

} // namespace

TEST(CDrawObject, ThousandObjectsLeaveNoDrawingObjectBehind)
{
    UiThreadScope ui;
    objectRound();   // first uses may set up caches of the system
    const int before = freeGdiRoom();
    ASSERT_GT(before, 1000);
    for (int round = 0; round < 1000; ++round)
        objectRound();
    EXPECT_EQ(before, freeGdiRoom());
}

TEST(CDrawObject, FilledBitmapHasTheColourAndSize)
{
    HBITMAP filled = CDrawObject::createFilledBitmap(RGB(12, 34, 56), 9, 5);
    ASSERT_NE(nullptr, filled);
    BITMAP info{};
    GetObjectA(filled, sizeof info, &info);
    EXPECT_EQ(9, info.bmWidth);
    EXPECT_EQ(5, info.bmHeight);
    Canvas canvas(9, 5, RGB(0, 0, 0));
    HDC source = CreateCompatibleDC(canvas.dc()->m_hDC);
    HGDIOBJ previous = SelectObject(source, filled);
    BitBlt(canvas.dc()->m_hDC, 0, 0, 9, 5, source, 0, 0, SRCCOPY);
    SelectObject(source, previous);
    DeleteDC(source);
    EXPECT_EQ((Rgb{12, 34, 56}), canvas.at(0, 0));
    EXPECT_EQ((Rgb{12, 34, 56}), canvas.at(8, 4));
    DeleteObject(filled);
    // No room for a bitmap: none, and the caller goes on.
    EXPECT_EQ(nullptr, CDrawObject::createFilledBitmap(RGB(1, 1, 1), 0, 0));
}
