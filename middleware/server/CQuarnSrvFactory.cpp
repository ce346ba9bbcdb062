#include "CQuarnSrvFactory.h"

#include "CQuarnModule.h"
#include "CQuarnSrv.h"

#include <new>

STDMETHODIMP CQuarnSrvFactory::QueryInterface(REFIID iid, void** ppObject)
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

// The class object is not counted: it lives as long as the process.
STDMETHODIMP_(ULONG) CQuarnSrvFactory::AddRef()
{
    return 2;
}

STDMETHODIMP_(ULONG) CQuarnSrvFactory::Release()
{
    return 1;
}

STDMETHODIMP CQuarnSrvFactory::CreateInstance(IUnknown* outer, REFIID iid, void** ppObject)
{
    if (!ppObject)
        return E_POINTER;
    *ppObject = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    IUnknown* server = NewObject();
    if (!server)
        return HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
    HRESULT result = server->QueryInterface(iid, ppObject);
    server->Release();
    return result;
}

IUnknown* CQuarnSrvFactory::NewObject()
{
    return static_cast<IQuarnSrv*>(new (std::nothrow) CQuarnSrv);
}

STDMETHODIMP CQuarnSrvFactory::LockServer(BOOL lock)
{
    if (lock)
        CQuarnModule::Instance().Lock();
    else
        CQuarnModule::Instance().Unlock();
    return S_OK;
}
