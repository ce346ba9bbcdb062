#include "QuarnBox.h"

#include <atomic>

namespace {
std::atomic<QuarnBoxHandler> s_handler{nullptr};
}

int QuarnShowBox(HWND owner, const std::string& text, const std::string& caption, UINT type)
{
    QuarnBoxHandler handler = s_handler.load();
    if (handler != nullptr)
        return handler(owner, text, caption, type);
    return MessageBoxA(owner, text.c_str(), caption.c_str(), type);
}

QuarnBoxHandler QuarnSetBoxHandler(QuarnBoxHandler handler) { return s_handler.exchange(handler); }
