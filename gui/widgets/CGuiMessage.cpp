#include "CGuiMessage.h"

#include "CTrace.h"

#include <atomic>

namespace {

const char SCOPE[] = "CGuiMessage";
std::atomic<CGuiMessage::ShowFunction> g_show{nullptr};

} // namespace

void CGuiMessage::setShowFunction(ShowFunction show)
{
    g_show = show;
}

void CGuiMessage::show(const std::string& text)
{
    ShowFunction show = g_show;
    if (show == nullptr) {
        CTrace::trace(SCOPE, " show: no one shows [" + text + "]");
        return;
    }
    show(text);
}
