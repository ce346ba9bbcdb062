#pragma once
// IDispatch of a dual interface, served from the type library of this module (resource 1): the
// server objects of quarnhost and quarnguard answer their four IDispatch methods through it.
#include <windows.h>

#include <oaidl.h>

class CQuarnTypeInfo {
public:
    // The interface's type information from this module's own type library; the caller owns the
    // reference. Null when it cannot be loaded.
    static ITypeInfo* Load(REFIID iid);

    // Loads the interface's type information once; it is kept for the process.
    explicit CQuarnTypeInfo(REFIID iid) : m_info(Load(iid)) {}
    CQuarnTypeInfo(const CQuarnTypeInfo&) = delete;
    CQuarnTypeInfo& operator=(const CQuarnTypeInfo&) = delete;

    HRESULT GetTypeInfoCount(UINT* pCount) const;
    HRESULT GetTypeInfo(UINT index, ITypeInfo** ppInfo) const;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, DISPID* ids) const;
    // Calls the method DISPID of OBJECT, a pointer to the interface itself.
    HRESULT Invoke(void* object, DISPID id, REFIID iid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) const;

private:
    ITypeInfo* m_info;
};
