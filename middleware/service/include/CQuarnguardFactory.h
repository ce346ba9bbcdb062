#pragma once
// The class object of the service: makes its server objects, all with the process's service
// build. It lives as long as the process; a client's LockServer holds the module.
#include <windows.h>
#include <unknwn.h>

class CQuarnServiceBuild;

class CQuarnguardFactory : public IClassFactory {
public:
    explicit CQuarnguardFactory(CQuarnServiceBuild& build) : m_build(build) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** ppObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** ppObject) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    CQuarnServiceBuild& m_build;
};
