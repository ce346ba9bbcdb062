#include "CQUARNInterface.h"

#include "CQUARNAPDir.h"
#include "CQUARNLookupDir.h"
#include "CQuarnBstr.h"
#include "CQuarnCallException.h"
#include "CTrace.h"
#include "QuarnErrorText.h"
#include "quarnhost.h"

#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <cstdio>

namespace {

const char SCOPE[] = "CQUARNInterface";
const DWORD SHARED_REFERENCE = 0xFFFFFFFF;

HRESULT createServer(IUnknown** object)
{
    return CoCreateInstance(CLSID_QuarnSrv, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(object));
}

std::atomic<CQUARNInterface::Factory> s_factory{createServer};
std::atomic<CQUARNInterface::Sleeper> s_sleeper{Sleep};

struct Messages {
    UINT nodeChange = RegisterWindowMessageA("QUARN_MESSAGE_COMPUTER_NODE_CHANGE");
    UINT lookupDirectory = RegisterWindowMessageA("QUARN_MESSAGE_LOOKUP_DIRCTORY");
    UINT fileTransfer = RegisterWindowMessageA("QUARN_MESSAGE_FILE_TRANSFER");
    UINT profile = RegisterWindowMessageA("QUARN_MESSAGE_PROFILE");
};
const Messages& messages()
{
    static const Messages registered;
    return registered;
}
// Registered at program start, before any window can be told of them.
const Messages& s_registeredAtStart = messages();

} // namespace

CQUARNInterface::CQUARNInterface() : pQuarnSrv(nullptr), comInitialized(false) {}

CQUARNInterface::~CQUARNInterface()
{
    if (pQuarnSrv != nullptr)
        pQuarnSrv->Release();
}

CQUARNInterface::Factory CQUARNInterface::setFactory(Factory factory)
{
    return s_factory.exchange(factory ? factory : createServer);
}

CQUARNInterface::Sleeper CQUARNInterface::setSleeper(Sleeper sleeper)
{
    return s_sleeper.exchange(sleeper ? sleeper : Sleep);
}

void CQUARNInterface::sleep(DWORD milliseconds) { s_sleeper.load()(milliseconds); }

UINT CQUARNInterface::computerNodeChangeMessage() { return messages().nodeChange; }
UINT CQUARNInterface::lookupDirectoryMessage() { return messages().lookupDirectory; }
UINT CQUARNInterface::fileTransferMessage() { return messages().fileTransfer; }
UINT CQUARNInterface::profileMessage() { return messages().profile; }

void CQUARNInterface::keepError(const char* where, HRESULT error)
{
    DWORD code = static_cast<DWORD>(error);
    DWORD kept = code;
    if ((code & 0x1FFF0000) == 0x00070000)
        kept = code & 0xFFFF;
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, std::string(where) + " failed: " + quarnErrorText(kept));
    SetLastError(kept);
}

ULONG CQUARNInterface::windowNumber(HWND window)
{
    return static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(window));
}

bool CQUARNInterface::succeeded(const char* where, HRESULT result)
{
    if (SUCCEEDED(result))
        return true;
    keepError(where, result);
    return false;
}

IQuarnSrv* CQUARNInterface::serverFor(const char* where)
{
    if (pQuarnSrv == nullptr)
        keepError(where, E_POINTER);
    return pQuarnSrv;
}

bool CQUARNInterface::release(const char* where)
{
    if (pQuarnSrv != nullptr)
        pQuarnSrv->Release();
    pQuarnSrv = nullptr;
    (void)where;
    return false;
}

bool CQUARNInterface::Initialize()
{
    const char* where = "CQUARNInterface::Initialize";
    CTrace::trace(SCOPE, "Initialize");
    if (!comInitialized) {
        HRESULT result = CoInitialize(nullptr);
        if (FAILED(result)) {
            keepError(where, result);
            return false;
        }
        comInitialized = true;
    }
    release(where);
    IUnknown* unknown = nullptr;
    HRESULT result = s_factory.load()(&unknown);
    if (FAILED(result) || unknown == nullptr) {
        keepError(where, FAILED(result) ? result : E_POINTER);
        return false;
    }
    result = OleRun(unknown);
    if (SUCCEEDED(result))
        result = unknown->QueryInterface(IID_IQuarnSrv, reinterpret_cast<void**>(&pQuarnSrv));
    unknown->Release();
    if (FAILED(result)) {
        pQuarnSrv = nullptr;
        keepError(where, result);
        return false;
    }
    // A server that cannot start leaves no usable object: later calls then fail with E_POINTER.
    if (!succeeded(where, pQuarnSrv->Initialize()))
        return release(where);
    CQuarnBstr guid;
    if (!succeeded(where, pQuarnSrv->GetGUIDString(guid.out())))
        return release(where);
    guidString = guid.text();
    CTrace::trace(SCOPE, "Initialize: node " + guidString);
    return true;
}

bool CQUARNInterface::Uninitialize()
{
    const char* where = "CQUARNInterface::Uninitialize";
    bool done = true;
    if (pQuarnSrv != nullptr)
        done = succeeded(where, pQuarnSrv->Uninitialize());
    release(where);
    if (comInitialized)
        CoUninitialize();
    comInitialized = false;
    return done;
}

bool CQUARNInterface::RegisterWnd(HWND window)
{
    const char* where = "CQUARNInterface::RegisterWnd";
    IQuarnSrv* server = serverFor(where);
    return server != nullptr && succeeded(where, server->RegisterWnd(windowNumber(window)));
}

bool CQUARNInterface::DeregisterWnd(HWND window)
{
    const char* where = "CQUARNInterface::DeregisterWnd";
    IQuarnSrv* server = serverFor(where);
    return server != nullptr && succeeded(where, server->DeregisterWnd(windowNumber(window)));
}

CQUARNAPDir* CQUARNInterface::OpenAPDir(const std::string& applicationName, HWND window)
{
    const char* where = "CQUARNInterface::OpenAPDir";
    CTrace::trace(SCOPE, "OpenAPDir " + applicationName);
    IQuarnSrv* server = serverFor(where);
    if (server == nullptr)
        return nullptr;
    if (!succeeded(where, server->DBLock()))
        return nullptr;
    CQUARNAPDir* directory = nullptr;
    HRESULT result = S_OK;
    ULONG id = 0;
    result = server->GetNewAppID(&id);
    if (SUCCEEDED(result)) {
        char userName[261] = {};
        DWORD size = sizeof(userName);
        if (!GetUserNameA(userName, &size))
            userName[0] = '\0';
        CQuarnBstr entry("\\Applications\\" + applicationName + "\\" + std::to_string(id) + "\\User Name");
        CQuarnBstr value(userName);
        result = entry.allocated() && value.allocated()
                     ? server->APDChangeEntryValueString(SHARED_REFERENCE, entry.get(), value.get())
                     : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(result)) {
        CQuarnBstr watched("\\Applications\\" + applicationName);
        result = watched.allocated() ? server->APDWatchWndAdd(id, windowNumber(window), watched.get()) : E_OUTOFMEMORY;
    }
    if (SUCCEEDED(result))
        directory = new CQUARNAPDir(id, applicationName, this);
    if (FAILED(result))
        keepError(where, result);
    DWORD kept = GetLastError();
    if (!UnlockDB(true))
        UnlockDB(true);
    SetLastError(kept);
    return directory;
}

CQUARNLookupDir* CQUARNInterface::openLookupDir(const std::string& path, HWND window)
{
    CQUARNLookupDir* directory = new CQUARNLookupDir(path, this);
    if (!directory->Initialize(window)) {
        DWORD kept = GetLastError();
        delete directory;
        SetLastError(kept);
        return nullptr;
    }
    return directory;
}

std::string CQUARNInterface::GetGUIDString()
{
    const char* where = "CQUARNInterface::GetGUIDString";
    IQuarnSrv* server = serverFor(where);
    CQuarnBstr guid;
    if (server == nullptr || !succeeded(where, server->GetGUIDString(guid.out())))
        return std::string();
    return guid.text();
}

bool CQUARNInterface::UnlockDB(bool locked)
{
    if (!locked)
        return true;
    const char* where = "CQUARNInterface::UnlockDB";
    IQuarnSrv* server = serverFor(where);
    if (server == nullptr)
        return false;
    LONG held = 0;
    if (!succeeded(where, server->DBIsLocked(&held)))
        return false;
    return held != 1 || succeeded(where, server->DBUnlock());
}

std::string CQUARNInterface::GetIP(const std::string& path)
{
    HRESULT result = E_POINTER;
    CQuarnBstr address;
    if (pQuarnSrv != nullptr) {
        CQuarnBstr directory(path);
        result = directory.allocated() ? pQuarnSrv->GetIP(directory.get(), address.out()) : E_OUTOFMEMORY;
    }
    if (FAILED(result)) {
        char text[80];
        std::snprintf(text, sizeof(text), "GetIP failed with 0x%08lX", static_cast<unsigned long>(result));
        throw CQuarnCallException(text, result);
    }
    return address.text();
}

DWORD CQUARNInterface::GetServerVersion()
{
    const char* where = "CQUARNInterface::GetServerVersion";
    IQuarnSrv* server = serverFor(where);
    if (server == nullptr)
        return 0;
    IUnknown* unknown = nullptr;
    HRESULT result = s_factory.load()(&unknown);
    if (FAILED(result) || unknown == nullptr) {
        keepError(where, FAILED(result) ? result : E_POINTER);
        return 0;
    }
    IDispatch* dispatch = nullptr;
    result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    unknown->Release();
    if (FAILED(result)) {
        keepError(where, result);
        return 0;
    }
    wchar_t name[] = L"GetServerVersion";
    LPOLESTR names[] = {name};
    DISPID id = DISPID_UNKNOWN;
    dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    dispatch->Release();
    // Servers from before the method was added answer to no such name.
    if (id == DISPID_UNKNOWN)
        return 0x10000;
    ULONG version = 0;
    if (!succeeded(where, server->GetServerVersion(&version)))
        return 0;
    return version;
}
