#pragma once
// The painting object of every skinned window: a bitmap (owned, or lent by its owner), an icon,
// the chat and grab marks, a frame colour and a label, painted into a device context with the
// decorations of the content windows. Also the terminal colour rule: a terminal's colour comes
// from its reference number in the session alone.
//
// Used on the UI thread of its window; colorOfIndex and colorOfId may be called from any thread.
#include <CDC.h>

#include <windows.h>

#include <string>
#include <string_view>

class CDrawObject {
public:
    // Decoration flags of draw and drawAt.
    enum : BYTE {
        FRAME_MASK = 0x03,     // 0 none, 1 solid 5 pixels, 2 solid 7 pixels, 3 dotted 1 pixel
        FRAME_THIN = 1,
        FRAME_THICK = 2,
        FRAME_DOTTED = 3,
        CROSS = 0x04,          // a cross through the middle in the reference number's colour
        INVERTED = 0x08,       // the picture copied inverted
        CHAT_MARK = 0x10,      // chat mark at the bottom-left corner
        GRAB_MARK = 0x20,      // grab mark at the bottom-right corner
    };

    CDrawObject();
    // Frees the owned bitmaps, the owned icon and the memory context, never the lent ones.
    ~CDrawObject();
    CDrawObject(const CDrawObject&) = delete;
    CDrawObject& operator=(const CDrawObject&) = delete;

    // The colour of a terminal's reference number: 0 has its own, any other number n (sign
    // dropped) takes palette entry (|n| - 1) mod 15.
    static COLORREF colorOfIndex(int number);
    // The same for the number as decimal text (a content's decoration, a speaker's reference
    // text); a text that does not begin with a number counts as 0. Reads only the text's bytes.
    static COLORREF colorOfId(std::string_view id);

    // A DIB section from the file of that name, else from the resource module's bitmap of that
    // name; null when neither exists. The caller owns it.
    static HBITMAP loadImage(const std::string& name);
    // A screen-compatible bitmap filled with the colour, or null when it cannot be made.
    static HBITMAP createFilledBitmap(COLORREF colour, int width, int height);
    // Draws source through a one-bit form of mask: where the mask is light the target turns
    // to the source's light pixels (white through the default colours), where it is dark the
    // target stays.
    static void drawMasked(CDC* target, int x, int y, int width, int height, HBITMAP source, HBITMAP mask);

    // Lets go of the lent bitmap, then takes the loaded one as the owned bitmap. Not found: an
    // error line, and the owned bitmap stays.
    void loadBitmap(const std::string& name);
    void loadChatMark(const std::string& name);
    void loadGrabMark(const std::string& name);
    // Paints the caller's bitmap, which the caller keeps and frees.
    void lendBitmap(HBITMAP bitmap);
    // Lets go of the lent bitmap and takes this one over (the one owned before is freed).
    void setBitmap(HBITMAP bitmap);
    void lendIcon(HICON icon);
    // Takes the icon over (the one owned before is destroyed).
    void setIcon(HICON icon);
    void setColor(COLORREF colour) { colour_ = colour; }
    COLORREF getColor() const { return colour_; }
    void setLabel(const std::string& label) { label_ = label; }
    // The painted bitmap's size (0 × 0 before any).
    SIZE getSize() const;

    // Paints the picture centred in the rectangle on one axis (measured from the context's
    // origin), then the decorations; referNumber colours the cross and the marks.
    void draw(CDC* dc, const RECT& rect, BYTE flags, std::string_view referNumber);
    // Paints the picture at x, y; with a rectangle also the black bands of a fitted picture and
    // the decorations, without one the icon alone.
    void drawAt(CDC* dc, int x, int y, LPCRECT rect = nullptr, BYTE flags = 0, std::string_view referNumber = {});

private:
    // A bitmap handle with the size read from it.
    struct Slot {
        HBITMAP bitmap = nullptr;
        SIZE size = {0, 0};
    };
    // Takes the bitmap with the size read from it; one whose description cannot be read keeps
    // the previous size (an error line).
    static void store(Slot& slot, HBITMAP bitmap, SIZE previous);
    void loadMark(Slot& slot, const std::string& name, const char* what);
    void drawDecorations(CDC* dc, const RECT& rect, BYTE flags, COLORREF terminal);
    void drawMark(CDC* dc, const Slot& mark, int x, int y, COLORREF terminal);

    Slot lent_;       // not freed here
    Slot owned_;
    Slot chatMark_;
    Slot grabMark_;
    HICON lentIcon_ = nullptr;
    HICON ownedIcon_ = nullptr;
    COLORREF colour_;
    std::string label_;
    CDC memory_;      // made at the first painting
};
