#include "CStageDisplayFactory.h"

#include "CContentCtrl.h"
#include "CCursorCtrl.h"
#include "CStageCtrl.h"

#include <atomic>

namespace {

CStageDisplayFactory g_own;
std::atomic<CStageDisplayFactory*> g_replacement{nullptr};

} // namespace

CContentCtrl* CStageDisplayFactory::makeContent(CStageCtrl* stage)
{
    return new CContentCtrl(CONTENT_RECT, stage, stage, DISPLAY_ID);
}

CCursorCtrl* CStageDisplayFactory::makeCursor(CStageCtrl* stage)
{
    return new CCursorCtrl(CURSOR_RECT, stage, stage, DISPLAY_ID);
}

CStageDisplayFactory& CStageDisplayFactory::get()
{
    CStageDisplayFactory* replacement = g_replacement.load();
    return replacement != nullptr ? *replacement : g_own;
}

CStageDisplayFactory* CStageDisplayFactory::set(CStageDisplayFactory* factory)
{
    return g_replacement.exchange(factory);
}
