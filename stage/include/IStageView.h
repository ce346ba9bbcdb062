#pragma once
// What the stage model (and a content's chat window, for NotifyCR) asks of the stage window.
// Any thread may call it: orders are posted to the window and run later on its thread in the
// order given; the questions (getElementDisplay, getCursorDisplay, isGrabed,
// lowerLayerAlignment, changeCustomBgData) wait until the window's thread has run them. The
// direct ones run on the caller's thread. Keys are element descriptors.
#include <string>

class CSharedElement;
class CVector;
class IElementDisplay;

class IStageView {
public:
    virtual ~IStageView() {}

    // Direct: keeps the stage's object id and whether it is the master copy.
    virtual void setStage(CSharedElement* stage) = 0;
    // A new content window for the key, or null when the window could not be reached. A key
    // that has a display already throws CIllegalArgumentException (that one stays as it was).
    // A content window is also an IContentDisplay.
    virtual IElementDisplay* getElementDisplay(const std::string& key) = 0;
    // A new cursor window; own: this terminal's own mouse cursor. Null as above, and with an
    // ERROR line when the key has a display already.
    virtual IElementDisplay* getCursorDisplay(const std::string& key, bool own) = 0;
    virtual void releaseDisplay(const std::string& key) = 0;
    // Top of the lower layer, or the place reserved for the key.
    virtual void putOnTop(const std::string& key) = 0;
    virtual void moveToTop(const std::string& key) = 0;
    virtual void moveToBottom(const std::string& key) = 0;
    virtual void moveToUpperLayer(const std::string& key) = 0;
    // Whether the user holds the display; a key answered true is left where it is.
    virtual bool isGrabed(const std::string& key) = 0;
    // Appends the lower layer's keys, bottom first, as new CJString objects for the caller to
    // delete (deleteAllElements);
    // leaves it unchanged when the window's thread did not answer.
    virtual void lowerLayerAlignment(CVector& keys) = 0;
    // A pixel block at 24 bits per pixel: copied before the call returns, then shown as the
    // custom background. A null block changes nothing.
    virtual void changeCustomBgData(unsigned length, const unsigned char* data, int width, int height) = 0;
    virtual void changeBackGround(int number) = 0;
    // This terminal's reference number, for the main dialog.
    virtual void setStatus(int status) = 0;
    // The stage is synchronised: drops are taken from now on.
    virtual void onInitialized() = 0;
    virtual void onElementInstalled(const std::string& desc) = 0;
    // Direct.
    virtual void getStageSize(int& width, int& height) = 0;
    // Direct, on the window's thread: the Enter key to the content the pointer entered last.
    virtual void NotifyCR() = 0;
    virtual void showMessage(const std::string& text) = 0;
    // A dropped file's copy report.
    virtual void onFileCopied(const std::string& report) = 0;
    // Direct: the background number that stands for the custom picture.
    virtual int getCustomBgNumber() = 0;
};
