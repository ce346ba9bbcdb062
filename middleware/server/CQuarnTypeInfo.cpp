#include "CQuarnTypeInfo.h"

#include <oleauto.h>

ITypeInfo* CQuarnTypeInfo::Load(REFIID iid)
{
    WCHAR path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library)))
        return nullptr;
    ITypeInfo* found = nullptr;
    if (FAILED(library->GetTypeInfoOfGuid(iid, &found)))
        found = nullptr;
    library->Release();
    return found;
}

HRESULT CQuarnTypeInfo::GetTypeInfoCount(UINT* pCount) const
{
    if (!pCount)
        return E_POINTER;
    *pCount = 1;
    return S_OK;
}

HRESULT CQuarnTypeInfo::GetTypeInfo(UINT index, ITypeInfo** ppInfo) const
{
    if (!ppInfo)
        return E_POINTER;
    *ppInfo = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    if (!m_info)
        return TYPE_E_ELEMENTNOTFOUND;
    m_info->AddRef();
    *ppInfo = m_info;
    return S_OK;
}

HRESULT CQuarnTypeInfo::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!m_info)
        return TYPE_E_ELEMENTNOTFOUND;
    return DispGetIDsOfNames(m_info, names, count, ids);
}

HRESULT CQuarnTypeInfo::Invoke(void* object, DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError) const
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!m_info)
        return TYPE_E_ELEMENTNOTFOUND;
    return DispInvoke(object, m_info, id, flags, params, result, exception, argumentError);
}
