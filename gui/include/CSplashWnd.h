#pragma once
// The start-up splash: a borderless, topmost window that shows one bitmap and takes no input.
#include "CDrawObject.h"

#include <CWnd.h>

#include <string>

class CSplashWnd : public CWnd {
public:
    // Loads the bitmap of that name and makes the window, hidden; a window that cannot be made
    // ends the process.
    explicit CSplashWnd(const std::string& bitmapName);

    // Shows it as large as its bitmap, without caption, centred on the desktop.
    void Show();

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    void OnPaint();

private:
    CDrawObject picture_;
};
