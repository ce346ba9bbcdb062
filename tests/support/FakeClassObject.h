#pragma once
// An outside COM class as an installed server would offer it, made in the test's own process:
// every instance asked of the class is the one object given. Registered for the object's life.
#include <windows.h>
#include <objbase.h>

class FakeClassObject : public IClassFactory {
public:
    // Registration failure leaves isRegistered() false.
    FakeClassObject(REFCLSID clsid, IUnknown* object) : object_(object)
    {
        registered_ = CoRegisterClassObject(clsid, this, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie_) == S_OK;
    }
    virtual ~FakeClassObject()
    {
        if (registered_)
            CoRevokeClassObject(cookie_);
    }
    FakeClassObject(const FakeClassObject&) = delete;
    FakeClassObject& operator=(const FakeClassObject&) = delete;

    bool isRegistered() const { return registered_; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Lives on the test's stack: counts are not kept.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        return object_->QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    IUnknown* object_;
    DWORD cookie_ = 0;
    bool registered_ = false;
};
