#include "CQuarnServerBuild.h"

#include "CQuarnSrvCore.h"
#include "QuarnCodes.h"

namespace {

CQuarnServerBuild* s_pSelected = nullptr;

} // namespace

CQuarnServerBuild& CQuarnServerBuild::Current()
{
    static CQuarnServerBuild s_module;
    return s_pSelected != nullptr ? *s_pSelected : s_module;
}

void CQuarnServerBuild::Select(CQuarnServerBuild& build)
{
    s_pSelected = &build;
}

void CQuarnServerBuild::Notify(HWND window, UINT message, WPARAM wParam, LPARAM lParam, Target target)
{
    if (target == Target::LiveWindowOnly && !IsWindow(window))
        return;
    PostMessageA(window, message, wParam, lParam);
}

bool CQuarnServerBuild::GetTempFolder(std::string& folder)
{
    return CQuarnSrvCore::GetTempFolder(folder);
}

bool CQuarnServerBuild::PrepareTempFolder()
{
    std::string folder;
    if (!GetTempFolder(folder))
        return false;
    CQuarnSrvCore::DeleteStaleTempFiles(folder);
    return true;
}

DWORD CQuarnServerBuild::Version() const
{
    return QUARN_SERVER_VERSION;
}
