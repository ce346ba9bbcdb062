#include "CXToolTipCtrl.h"

#include <CWinApp.h>

#include <commctrl.h>

#include <vector>

namespace {

// Wide enough for any text: line breaks then make the lines of the tip.
const int MAX_TIP_WIDTH = 32767;

} // namespace

BOOL CXToolTipCtrl::Create(CWnd* parent)
{
    return CToolTipCtrl::Create(parent, TTS_ALWAYSTIP | TTS_NOPREFIX);
}

BOOL CXToolTipCtrl::AddTool(CWnd* window, const std::string& text)
{
    SendMessage(TTM_SETMAXTIPWIDTH, 0, MAX_TIP_WIDTH);
    // The control keeps its own copy of the text.
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    TOOLINFOA tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window->m_hWnd;
    tool.uId = reinterpret_cast<UINT_PTR>(window->m_hWnd);
    tool.hinst = AfxGetResourceHandle();
    tool.lpszText = copy.data();
    TOOLINFOA existing{};
    existing.cbSize = sizeof existing;
    existing.hwnd = tool.hwnd;
    existing.uId = tool.uId;
    if (SendMessage(TTM_GETTOOLINFOA, 0, reinterpret_cast<LPARAM>(&existing))) {
        SendMessage(TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
        return TRUE;
    }
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)));
}
