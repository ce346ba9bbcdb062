#include "CQuarnguardFactory.h"

#include "CQuarnModule.h"
#include "CQuarnguard.h"

#include <new>

STDMETHODIMP CQuarnguardFactory::QueryInterface(REFIID iid, void** ppObject)
{
    if (!ppObject)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *ppObject = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppObject = nullptr;
    return E_NOINTERFACE;
}

// Not counted: the class object lives as long as the process.
STDMETHODIMP_(ULONG) CQuarnguardFactory::AddRef()
{
    return 2;
}

STDMETHODIMP_(ULONG) CQuarnguardFactory::Release()
{
    return 1;
}

STDMETHODIMP CQuarnguardFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppObject)
{
    if (!ppObject)
        return E_POINTER;
    *ppObject = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    CQuarnguard* server = new (std::nothrow) CQuarnguard(m_build);
    if (!server)
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    HRESULT result = server->QueryInterface(iid, ppObject);
    server->Release();
    return result;
}

STDMETHODIMP CQuarnguardFactory::LockServer(BOOL lock)
{
    if (lock)
        CQuarnModule::Instance().Lock();
    else
        CQuarnModule::Instance().Unlock();
    return S_OK;
}
