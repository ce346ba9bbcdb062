#pragma once
// A device context and the drawing calls the windows make on it.
//
// The first object of each kind (bitmap, brush, pen, font) that the CDC selects is remembered with
// the one it replaced; when the CDC goes, those are put back, so the drawing objects are free
// again and a DC that outlives the CDC (its own DC of a window class, one attached) is as it was.
// Detach lets go without putting anything back.
#include "CGdiObject.h"

#include <windows.h>

#include <string>

class CBrush;
class CRgn;

class CDC {
public:
    CDC() = default;
    // Puts the first selections back; deletes a DC made by CreateCompatibleDC.
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // Uses a DC that stays its owner's: it is not deleted when this object goes. FALSE when this
    // object has a DC already or the handle is null.
    BOOL Attach(HDC hdc);
    // Lets go of the DC as it is now (selections stay); returns it.
    HDC Detach();
    // A memory DC compatible with dc (null: the screen), owned by this object.
    BOOL CreateCompatibleDC(CDC* dc);
    // Puts the first selections back and deletes the DC made by CreateCompatibleDC.
    BOOL DeleteDC();

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }

    // The object selected before; null on failure. A region selects the clipping region (the
    // result then is the region's type, as the system gives it).
    HGDIOBJ SelectObject(CGdiObject* object) { return SelectObject(object ? object->m_hObject : nullptr); }
    HGDIOBJ SelectObject(HGDIOBJ object);
    HGDIOBJ SelectStockObject(int index) { return SelectObject(GetStockObject(index)); }
    int SelectClipRgn(CRgn* region);

    BOOL BitBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource, DWORD rop);
    BOOL StretchBlt(int x, int y, int width, int height, CDC* source, int xSource, int ySource,
                    int widthSource, int heightSource, DWORD rop);
    BOOL PatBlt(int x, int y, int width, int height, DWORD rop);
    void FillRect(LPCRECT rect, CBrush* brush);
    void FillSolidRect(LPCRECT rect, COLORREF colour);
    void FillSolidRect(int x, int y, int width, int height, COLORREF colour);
    void FrameRect(LPCRECT rect, CBrush* brush);
    BOOL FillRgn(CRgn* region, CBrush* brush);
    BOOL FrameRgn(CRgn* region, CBrush* brush, int width, int height);
    BOOL Rectangle(int left, int top, int right, int bottom);
    BOOL Rectangle(LPCRECT rect) { return Rectangle(rect->left, rect->top, rect->right, rect->bottom); }
    POINT MoveTo(int x, int y);
    POINT MoveTo(POINT pt) { return MoveTo(pt.x, pt.y); }
    BOOL LineTo(int x, int y);
    BOOL LineTo(POINT pt) { return LineTo(pt.x, pt.y); }
    BOOL DrawIcon(int x, int y, HICON icon);
    COLORREF GetPixel(int x, int y) const;

    COLORREF SetTextColor(COLORREF colour);
    COLORREF GetTextColor() const;
    COLORREF SetBkColor(COLORREF colour);
    COLORREF GetBkColor() const;
    int SetBkMode(int mode);
    int GetBkMode() const;
    int SetROP2(int mode);
    int DrawText(LPCSTR text, int count, LPRECT rect, UINT format);
    int DrawText(const std::string& text, LPRECT rect, UINT format);
    BOOL TextOut(int x, int y, LPCSTR text, int count);
    int GetDeviceCaps(int index) const;

    HDC m_hDC = nullptr;

protected:
    // Puts back what the first selections replaced (called by each destructor before the DC goes).
    void restoreSelections();

private:
    // What each kind's first selection replaced: bitmap, brush, pen, font.
    HGDIOBJ m_original[4] = {};
    bool m_owned = false;   // made by CreateCompatibleDC
};
