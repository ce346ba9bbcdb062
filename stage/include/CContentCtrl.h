#pragma once
// The window of one content on the stage window: a hidden child of the stage, registered under
// a name of its own so that the content's element reaches it from its handler thread. Here it
// takes its place on the stage and shows itself; what else the element tells it is traced.
#include "IContentDisplay.h"

#include <CWnd.h>

#include <string>
#include <string_view>

class CCursorCtrl;
class CStageCtrl;

class CContentCtrl : public CWnd, public virtual IContentDisplay {
public:
    static constexpr UINT WM_CONTENT_CTRL_COMMAND = WM_APP + 103;
    enum Command : WPARAM { SET_LOCATION = 1 };

    // Creates the child window (hidden) at the rectangle with the id and registers it under a
    // new unique name; a window that cannot be made ends the process.
    CContentCtrl(const RECT& rect, CWnd* parent, CStageCtrl* stage, UINT id);
    ~CContentCtrl() override;

    // This terminal's own cursor window, which the content hands the pointer's moves to.
    virtual void SetCursorCtrl(CCursorCtrl* cursor);
    CCursorCtrl* getCursorCtrl() const { return cursor_; }
    const std::string& getWindowName() const { return windowName_; }
    CStageCtrl* getStageCtrl() const { return stage_; }

    // "x y", "n", and "size *path *nickname": the texts a content's descriptor carries.
    static std::string makeLocationText(int x, int y);
    static std::string makeDecorationText(int n);
    static std::string makeAttributeText(long long fileSize, const std::string& path, const std::string& nickname);
    // Reads "x y" (decimal, each with an optional '-', one blank between) from the text's own
    // bytes, which may come from a peer; false, with the point untouched, for anything else.
    static bool parseLocationText(std::string_view text, POINT* point);

    // IElementDisplay: setLocation moves the window to the point "x y" and shows it, on the
    // window's thread; the others are traced.
    void setEntity(CSharedElement* entity) override;
    void setLocation(const std::string& location) override;
    void setSize(const std::string& size) override;
    void startMotion() override;
    void stopMotion() override;
    void setMotion(const std::string& motion) override;
    void setDecoration(const std::string& decoration) override;
    void setAttribute(const std::string& attribute) override;
    void setViewId(const std::string& viewId) override;
    void setViewData(unsigned size, const unsigned char* data, int width, int height) override;
    // IContentDisplay: traced.
    void setIcon(unsigned imageLength, const unsigned char* image, unsigned maskLength, const unsigned char* mask,
                 std::uint16_t imageBits, std::uint16_t maskBits) override;
    void onGainedMyOperation(const std::string& requestId) override;
    void onLostMyOperation(const std::string& requestId) override;
    void onGainedOperation(const std::string& requestId) override;
    void onLostOperation(const std::string& requestId) override;
    void onSpeech(const std::string& text) override;
    void execFile(const std::string& path) override;
    void showMessage(const std::string& text) override;
    IChatGui* getChatGui() override { return nullptr; }

protected:
    static const MessageEntry messageMap[];
    const MessageEntry* GetMessageMap() const override { return messageMap; }
    LRESULT OnContentCtrlCommand(WPARAM wParam, LPARAM lParam);
    void PostNcDestroy() override;

private:
    void SetLocation(const std::string& location);

    CStageCtrl* stage_;             // not owned
    CCursorCtrl* cursor_ = nullptr; // not owned
    RECT ctrlRect_;
    std::string windowName_;
};
