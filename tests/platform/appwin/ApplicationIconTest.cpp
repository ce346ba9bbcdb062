// The application's icon from the resource module, and the rich-edit library's start.
#include "AfxRichEdit.h"
#include "CWinApp.h"
#include "UiThreadScope.h"

#include <gtest/gtest.h>

namespace {
class CPlainApp : public CWinApp {};
}  // namespace

TEST(CWinApp, LoadIconTakesTheIconOfTheResourceModule) {
    UiThreadScope ui;
    ASSERT_NE(nullptr, ui.resources());
    CPlainApp app;
    HICON icon = app.LoadIcon(128);
    ASSERT_NE(nullptr, icon);
    // The system keeps one icon per module and id: tavlang's, not the program's own 128.
    EXPECT_EQ(LoadIconA(ui.resources(), MAKEINTRESOURCEA(128)), icon);
    EXPECT_NE(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128)), icon);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour{};
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), colour.bmWidth);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    EXPECT_EQ(nullptr, app.LoadIcon(9999));
}

TEST(AfxInitRichEdit, RegistersTheRichEditClass) {
    ASSERT_TRUE(AfxInitRichEdit());
    WNDCLASSA info{};
    EXPECT_TRUE(GetClassInfoA(nullptr, "RichEdit20A", &info));
    EXPECT_TRUE(AfxInitRichEdit());
    EXPECT_NE(nullptr, GetModuleHandleA("RICHED20.DLL"));
}
