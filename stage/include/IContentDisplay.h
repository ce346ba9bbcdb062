#pragma once
// The display of a content (its content window): the viewable element's operations and the
// content's own. A display the stage view hands out that is one of these is a content window;
// a cursor window is not. Called on the content's handler thread; the window moves the work
// onto its own thread, and copies every block before the call returns.
#include "IElementDisplay.h"

#include <cstdint>
#include <string>

class IChatGui;

class IContentDisplay : public virtual IElementDisplay {
public:
    // The icon of the content's file, once per window: a 32 x 32 colour image and its mask,
    // each at its own depth.
    virtual void setIcon(unsigned imageLength, const unsigned char* image, unsigned maskLength,
                         const unsigned char* mask, std::uint16_t imageBits, std::uint16_t maskBits) = 0;
    // Operation-right notices, each with the request id: this terminal gained or lost the
    // right, or another terminal did.
    virtual void onGainedMyOperation(const std::string& requestId) = 0;
    virtual void onLostMyOperation(const std::string& requestId) = 0;
    virtual void onGainedOperation(const std::string& requestId) = 0;
    virtual void onLostOperation(const std::string& requestId) = 0;
    // A chat line arrived; the text is the speaker's reference number.
    virtual void onSpeech(const std::string& text) = 0;
    // Opens the file with its associated application.
    virtual void execFile(const std::string& path) = 0;
    // A message box over the stage window.
    virtual void showMessage(const std::string& text) = 0;
    // The content's chat, on the calling thread; null until the window is bound to its element.
    virtual IChatGui* getChatGui() = 0;
};
