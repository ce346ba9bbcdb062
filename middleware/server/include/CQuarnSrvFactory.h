#pragma once
// The class object of the server: makes server objects for COM. It lives as long as the
// process; a client's LockServer holds the module. The service's class object makes its own
// objects through NewObject.
#include <windows.h>
#include <unknwn.h>

class CQuarnSrvFactory : public IClassFactory {
public:
    virtual ~CQuarnSrvFactory() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** ppObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppObject) override;
    STDMETHODIMP LockServer(BOOL lock) override;

protected:
    // A new server object holding one reference; null when there is no memory for it.
    virtual IUnknown* NewObject();
};
