#include "CMessageBox.h"

#include <atomic>

namespace {
std::atomic<CMessageBox::Handler> s_handler{nullptr};
}

int CMessageBox::show(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    Handler handler = s_handler.load();
    if (handler != nullptr)
        return handler(owner, text, caption, type);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

CMessageBox::Handler CMessageBox::setHandler(Handler handler)
{
    return s_handler.exchange(handler);
}
