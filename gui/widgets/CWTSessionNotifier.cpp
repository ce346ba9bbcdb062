#include "CWTSessionNotifier.h"

#include "CTrace.h"

#include <wtsapi32.h>

#include <string>

namespace {

const char SCOPE[] = "CWTSessionNotifier";
const char LIBRARY[] = "Wtsapi32.dll";

using RegisterFunction = BOOL(WINAPI*)(HWND, DWORD);
using UnregisterFunction = BOOL(WINAPI*)(HWND);

// The library for one call: freed again when it goes.
class Library {
public:
    Library() : module_(LoadLibraryA(LIBRARY)) {}
    ~Library() {
        if (module_ != nullptr)
            FreeLibrary(module_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    // Through void*: the function's own type is the caller's to give.
    void* function(const char* name) const {
        return module_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
    }

private:
    HMODULE module_;
};

} // namespace

CWTSessionNotifier::CWTSessionNotifier(HWND window) : window_(window)
{
    CTrace::scopedAssertTrue(window != nullptr, SCOPE, " CWTSessionNotifier: null window", -1);
    registerNotification(window_);
}

CWTSessionNotifier::~CWTSessionNotifier()
{
    unregisterNotification(window_);
}

HRESULT CWTSessionNotifier::registerNotification(HWND window)
{
    if (window == nullptr)
        return E_INVALIDARG;
    Library library;
    auto call = reinterpret_cast<RegisterFunction>(library.function("WTSRegisterSessionNotification"));
    if (call == nullptr)
        return E_NOTIMPL;
    if (!call(window, NOTIFY_FOR_THIS_SESSION)) {
        CTrace::scopedError(SCOPE, " registerNotification: WTSRegisterSessionNotification failed, error " +
                                       std::to_string(GetLastError()), -1);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CWTSessionNotifier::unregisterNotification(HWND window)
{
    if (window == nullptr)
        return S_FALSE;
    Library library;
    auto call = reinterpret_cast<UnregisterFunction>(library.function("WTSUnRegisterSessionNotification"));
    if (call == nullptr)
        return E_NOTIMPL;
    return call(window) ? S_OK : E_FAIL;
}
