#pragma once
// The notice shown while the program terminates: a topmost, disabled window with a few lines of
// text centred in it, in the caller's colours and the skins' font.
#include <CWnd.h>

#include <string>

class CSimpleWnd : public CWnd {
public:
    // Made hidden; a window that cannot be made ends the process.
    CSimpleWnd();

    // width × height centred over the window, the text's lines centred as a block; a line too
    // wide ends in "...".
    void Show(CWnd* centreOn, int width, int height, const std::string& text, COLORREF textColour,
              COLORREF backgroundColour);

    const std::string& getText() const { return text_; }
    COLORREF getTextColour() const { return textColour_; }
    COLORREF getBackgroundColour() const { return backgroundColour_; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint();

private:
    int width_ = 0;
    int height_ = 0;
    COLORREF textColour_ = 0;
    COLORREF backgroundColour_ = 0;
    std::string text_;
};
