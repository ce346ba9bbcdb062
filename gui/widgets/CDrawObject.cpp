#include "CDrawObject.h"

#include "CInteger.h"
#include "CTrace.h"

#include <CBitmap.h>
#include <CBrush.h>
#include <CClientDC.h>
#include <CPen.h>
#include <CRgn.h>
#include <CWinApp.h>

namespace {

const char SCOPE[] = "CDrawObject";

const COLORREF COLOUR_OF_ZERO = 0xFF80C0;
const COLORREF PALETTE[15] = {
    0xFFC080, 0x00FF00, 0x0000FF, 0x80FFFF, 0xFF00FF, 0xC0FF1A, 0x0080FF, 0x343480,
    0xC080FF, 0xFF0000, 0x00C0E0, 0xA4A4FF, 0x803400, 0x008080, 0x348000,
};

// How far the marks sit in from the rectangle's bottom corners, and the icon from its top left.
const int MARK_INSET = 3;
const int ICON_INSET = 3;
const int THIN_FRAME_WIDTH = 5;
const int THICK_FRAME_WIDTH = 7;
const int CROSS_WIDTH = 7;
// Target = target AND NOT source.
const DWORD AND_NOT_SOURCE = 0x220326;

// Puts the selection back when it goes, so every return path leaves the context as it was.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ~Selection() {
        if (previous_ != nullptr)
            SelectObject(dc_, previous_);
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    bool ok() const { return previous_ != nullptr; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

} // namespace

CDrawObject::CDrawObject() : colour_(COLOUR_OF_ZERO) {}

CDrawObject::~CDrawObject()
{
    for (Slot* slot : {&owned_, &chatMark_, &grabMark_})
        if (slot->bitmap != nullptr)
            DeleteObject(slot->bitmap);
    if (ownedIcon_ != nullptr)
        DestroyIcon(ownedIcon_);
}

COLORREF CDrawObject::colorOfIndex(int number)
{
    // In 64 bits, so that dropping the sign of the smallest int cannot overflow.
    long long magnitude = number < 0 ? -static_cast<long long>(number) : number;
    if (magnitude == 0)
        return COLOUR_OF_ZERO;
    return PALETTE[(magnitude - 1) % 15];
}

COLORREF CDrawObject::colorOfId(std::string_view id)
{
    return colorOfIndex(CInteger::parseInt(std::string(id)));
}

HBITMAP CDrawObject::loadImage(const std::string& name)
{
    HANDLE image = LoadImageA(nullptr, name.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
    if (image == nullptr)
        image = LoadImageA(AfxGetResourceHandle(), name.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    return static_cast<HBITMAP>(image);
}

void CDrawObject::store(Slot& slot, HBITMAP bitmap, SIZE previous)
{
    slot.bitmap = bitmap;
    slot.size = bitmap != nullptr ? previous : SIZE{0, 0};
    if (bitmap == nullptr)
        return;
    BITMAP info{};
    if (GetObjectA(bitmap, sizeof info, &info) == 0) {
        CTrace::scopedError(SCOPE, " store: the bitmap's description cannot be read", -1);
        return;
    }
    slot.size = {info.bmWidth, info.bmHeight};
}

void CDrawObject::loadBitmap(const std::string& name)
{
    lent_ = Slot();
    HBITMAP bitmap = loadImage(name);
    if (bitmap == nullptr) {
        CTrace::scopedError(SCOPE, " loadBitmap: no bitmap " + name, -1);
        return;
    }
    setBitmap(bitmap);
}

void CDrawObject::loadChatMark(const std::string& name)
{
    loadMark(chatMark_, name, "loadChatMark");
}

void CDrawObject::loadGrabMark(const std::string& name)
{
    loadMark(grabMark_, name, "loadGrabMark");
}

void CDrawObject::loadMark(Slot& slot, const std::string& name, const char* what)
{
    HBITMAP bitmap = loadImage(name);
    if (bitmap == nullptr) {
        CTrace::scopedError(SCOPE, " " + std::string(what) + ": no bitmap " + name, -1);
        return;
    }
    if (slot.bitmap != nullptr)
        DeleteObject(slot.bitmap);
    store(slot, bitmap, slot.size);
}

void CDrawObject::lendBitmap(HBITMAP bitmap)
{
    store(lent_, bitmap, getSize());
}

void CDrawObject::setBitmap(HBITMAP bitmap)
{
    const SIZE previous = getSize();
    lent_ = Slot();
    if (bitmap == owned_.bitmap)
        return;   // taken over already: freeing it first would lose it
    if (owned_.bitmap != nullptr)
        DeleteObject(owned_.bitmap);
    store(owned_, bitmap, previous);
}

void CDrawObject::lendIcon(HICON icon)
{
    lentIcon_ = icon;
}

void CDrawObject::setIcon(HICON icon)
{
    if (ownedIcon_ != nullptr && ownedIcon_ != icon)
        DestroyIcon(ownedIcon_);
    ownedIcon_ = icon;
}

SIZE CDrawObject::getSize() const
{
    return lent_.bitmap != nullptr ? lent_.size : owned_.size;
}

void CDrawObject::draw(CDC* dc, const RECT& rect, BYTE flags, std::string_view referNumber)
{
    const SIZE size = getSize();
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    // A fitted picture touches two opposite sides: centring on the other axis is enough.
    if (height > size.cy)
        drawAt(dc, 0, (height - size.cy + 1) / 2, &rect, flags, referNumber);
    else
        drawAt(dc, (width - size.cx + 1) / 2, 0, &rect, flags, referNumber);
}

void CDrawObject::drawAt(CDC* dc, int x, int y, LPCRECT rect, BYTE flags, std::string_view referNumber)
{
    const Slot& picture = lent_.bitmap != nullptr ? lent_ : owned_;
    if (picture.bitmap == nullptr) {
        CTrace::trace(SCOPE, " drawAt: no bitmap to paint");
        return;
    }
    if (memory_.m_hDC == nullptr && !memory_.CreateCompatibleDC(dc)) {
        CTrace::scopedError(SCOPE, " drawAt: no memory device context", -1);
        return;
    }
    Selection selected(memory_.m_hDC, picture.bitmap);
    const SIZE size = picture.size;
    if (rect != nullptr) {
        const int width = rect->right - rect->left;
        const int height = rect->bottom - rect->top;
        if (size.cy < height) {
            const int band = (height - size.cy + 1) / 2;
            dc->FillSolidRect(rect->left, rect->top, width, band, RGB(0, 0, 0));
            dc->FillSolidRect(rect->left, band + size.cy, width, band, RGB(0, 0, 0));
        } else if (size.cx < width) {
            const int band = (width - size.cx + 1) / 2;
            dc->FillSolidRect(rect->left, rect->top, band, height, RGB(0, 0, 0));
            dc->FillSolidRect(band + size.cx, rect->top, band, height, RGB(0, 0, 0));
        }
    }
    if (!dc->BitBlt(x, y, size.cx, size.cy, &memory_, 0, 0, (flags & INVERTED) ? NOTSRCCOPY : SRCCOPY))
        CTrace::trace(SCOPE, " drawAt: the picture was not copied");
    HICON icon = ownedIcon_ != nullptr ? ownedIcon_ : lentIcon_;
    if (icon != nullptr)
        dc->DrawIcon(ICON_INSET, ICON_INSET, icon);
    if (rect != nullptr)
        drawDecorations(dc, *rect, flags, colorOfId(referNumber));
}

void CDrawObject::drawDecorations(CDC* dc, const RECT& rect, BYTE flags, COLORREF terminal)
{
    const HDC hdc = dc->m_hDC;
    if (flags & CROSS) {
        CPen pen(PS_SOLID, CROSS_WIDTH, terminal);
        Selection selected(hdc, pen);
        const int middleX = (rect.left + rect.right) / 2;
        const int middleY = (rect.top + rect.bottom) / 2;
        dc->MoveTo(middleX, rect.top);
        dc->LineTo(middleX, rect.bottom);
        dc->MoveTo(rect.left, middleY);
        dc->LineTo(rect.right, middleY);
    }
    const int frame = flags & FRAME_MASK;
    if (frame != 0) {
        CPen pen;
        if (frame == FRAME_DOTTED)
            pen.CreatePen(PS_DOT, 1, colour_);
        else
            pen.CreatePen(PS_SOLID, frame == FRAME_THIN ? THIN_FRAME_WIDTH : THICK_FRAME_WIDTH, colour_);
        Selection selectedPen(hdc, pen);
        Selection selectedBrush(hdc, GetStockObject(NULL_BRUSH));
        // The pen runs along the rectangle's outermost rows and columns.
        dc->Rectangle(rect.left, rect.top, rect.right, rect.bottom);
    }
    if (!label_.empty()) {
        const COLORREF previous = dc->SetTextColor(RGB(255, 255, 255));
        dc->SetBkMode(TRANSPARENT);
        RECT area = rect;
        dc->DrawText(label_, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
        dc->SetTextColor(previous);
        dc->SetBkMode(OPAQUE);
    }
    if ((flags & CHAT_MARK) && chatMark_.bitmap != nullptr)
        drawMark(dc, chatMark_, rect.left + MARK_INSET, rect.bottom - MARK_INSET - chatMark_.size.cy, terminal);
    if ((flags & GRAB_MARK) && grabMark_.bitmap != nullptr)
        drawMark(dc, grabMark_, rect.right - MARK_INSET - grabMark_.size.cx,
                 rect.bottom - MARK_INSET - grabMark_.size.cy, terminal);
}

void CDrawObject::drawMark(CDC* dc, const Slot& mark, int x, int y, COLORREF terminal)
{
    dc->FillSolidRect(x, y, mark.size.cx, mark.size.cy, terminal);
    HBITMAP filled = createFilledBitmap(terminal, mark.size.cx, mark.size.cy);
    if (filled == nullptr) {
        CTrace::trace(SCOPE, " drawMark: no filled bitmap, the mark is left out");
        return;
    }
    drawMasked(dc, x, y, mark.size.cx, mark.size.cy, filled, mark.bitmap);
    DeleteObject(filled);
}

HBITMAP CDrawObject::createFilledBitmap(COLORREF colour, int width, int height)
{
    CClientDC screen(nullptr);
    if (screen.m_hDC == nullptr)
        CTrace::scopedFatalError(SCOPE, " createFilledBitmap: no screen device context", -1);
    CDC memory;
    if (!memory.CreateCompatibleDC(&screen))
        CTrace::scopedFatalError(SCOPE, " createFilledBitmap: no memory device context", -1);
    // No area: the platform would give its 1 × 1 stock bitmap, which is no bitmap of that size.
    HBITMAP bitmap = width > 0 && height > 0 ? CreateCompatibleBitmap(screen.m_hDC, width, height) : nullptr;
    if (bitmap == nullptr) {
        CTrace::trace(SCOPE, " createFilledBitmap: no bitmap of " + std::to_string(width) + " x " +
                                 std::to_string(height));
        return nullptr;
    }
    bool filled;
    {
        Selection selected(memory.m_hDC, bitmap);
        CRgn region;
        CBrush brush(colour);
        filled = selected.ok() && region.CreateRectRgn(0, 0, width, height) && brush.m_hObject != nullptr &&
                 memory.FillRgn(&region, &brush);
    }
    if (!filled) {
        DeleteObject(bitmap);
        CTrace::scopedFatalError(SCOPE, " createFilledBitmap: the bitmap cannot be filled", -1);
    }
    return bitmap;
}

void CDrawObject::drawMasked(CDC* target, int x, int y, int width, int height, HBITMAP source, HBITMAP mask)
{
    CDC sourceDc, maskDc;
    if (!sourceDc.CreateCompatibleDC(target) || !maskDc.CreateCompatibleDC(target)) {
        CTrace::scopedError(SCOPE, " drawMasked: no memory device context", -1);
        return;
    }
    BITMAP info{};
    GetObjectA(mask, sizeof info, &info);
    HBITMAP oneBit = mask;
    if (info.bmBitsPixel != 1) {
        oneBit = static_cast<HBITMAP>(CopyImage(mask, IMAGE_BITMAP, 0, 0, LR_MONOCHROME));
        if (oneBit == nullptr) {
            CTrace::scopedError(SCOPE, " drawMasked: no one-bit mask", -1);
            return;
        }
    }
    {
        Selection selectedSource(sourceDc.m_hDC, source);
        Selection selectedMask(maskDc.m_hDC, oneBit);
        // The source keeps the mask's light pixels, through the context's (white) brush.
        if (!sourceDc.BitBlt(0, 0, width, height, &maskDc, 0, 0, MERGECOPY)) {
            CTrace::scopedError(SCOPE, " drawMasked: the source cannot be masked", -1);
        } else {
            target->BitBlt(x, y, width, height, &maskDc, 0, 0, AND_NOT_SOURCE);
            target->BitBlt(x, y, width, height, &sourceDc, 0, 0, SRCPAINT);
        }
    }
    if (oneBit != mask)
        DeleteObject(oneBit);
}
