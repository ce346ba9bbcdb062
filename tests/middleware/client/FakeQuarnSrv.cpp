#include "FakeQuarnSrv.h"

#include "CQUARNInterface.h"

#include <oleauto.h>

#include <algorithm>

namespace {

FakeQuarnSrv* s_fake = nullptr;
std::vector<DWORD> s_sleeps;

HRESULT createFake(IUnknown** object)
{
    if (s_fake == nullptr)
        return REGDB_E_CLASSNOTREG;
    if (FAILED(s_fake->createResult))
        return s_fake->createResult;
    s_fake->AddRef();
    *object = s_fake;
    return S_OK;
}

void recordSleep(DWORD milliseconds) { s_sleeps.push_back(milliseconds); }

const HRESULT PENDING = static_cast<HRESULT>(0x800703E4);
const HRESULT INVALID_PATH = static_cast<HRESULT>(0xE0040002);
const HRESULT INVALID_HANDLE = static_cast<HRESULT>(0x80070006);

std::wstring textOf(BSTR value) { return value ? std::wstring(value, SysStringLen(value)) : std::wstring(); }

} // namespace

FakeQuarnSrv::FakeQuarnSrv() { directories[L"\\"]; }

void FakeQuarnSrv::install(FakeQuarnSrv* fake)
{
    s_fake = fake;
    s_sleeps.clear();
    CQUARNInterface::setFactory(createFake);
    CQUARNInterface::setSleeper(recordSleep);
}

void FakeQuarnSrv::uninstall()
{
    s_fake = nullptr;
    CQUARNInterface::setFactory(nullptr);
    CQUARNInterface::setSleeper(nullptr);
}

std::vector<DWORD>& FakeQuarnSrv::sleeps() { return s_sleeps; }

int FakeQuarnSrv::count(const std::string& method) const
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), method));
}

void FakeQuarnSrv::addNode(const std::wstring& node, ULONG type)
{
    FakeEntry e;
    e.name = node;
    e.type = type;
    directories[L"\\"].push_back(e);
}

HRESULT FakeQuarnSrv::enter(const char* method)
{
    calls.push_back(method);
    auto failure = failures.find(method);
    return failure == failures.end() ? S_OK : failure->second;
}

BSTR FakeQuarnSrv::serverString(const std::wstring& text)
{
    if (text.empty())
        return nullptr;
    return SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size() + 1));
}

const FakeEntry* FakeQuarnSrv::entry(ULONG handle, ULONG index, HRESULT& result)
{
    auto open = open_.find(handle);
    if (open == open_.end()) {
        result = INVALID_HANDLE;
        return nullptr;
    }
    const std::vector<FakeEntry>& all = directories[open->second];
    if (index >= all.size()) {
        result = E_INVALIDARG;
        return nullptr;
    }
    return &all[index];
}

STDMETHODIMP FakeQuarnSrv::QueryInterface(REFIID iid, void** object)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IQuarnSrv) {
        AddRef();
        *object = this;
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}
STDMETHODIMP_(ULONG) FakeQuarnSrv::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
STDMETHODIMP_(ULONG) FakeQuarnSrv::Release() { return static_cast<ULONG>(InterlockedDecrement(&references_)); }
STDMETHODIMP FakeQuarnSrv::GetTypeInfoCount(UINT* count)
{
    *count = 0;
    return S_OK;
}
STDMETHODIMP FakeQuarnSrv::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
STDMETHODIMP FakeQuarnSrv::GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids)
{
    calls.push_back("GetIDsOfNames");
    bool known = versionKnown && std::wstring(names[0]) == L"GetServerVersion";
    ids[0] = known ? 36 : DISPID_UNKNOWN;
    return known ? S_OK : DISP_E_UNKNOWNNAME;
}
STDMETHODIMP FakeQuarnSrv::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

STDMETHODIMP FakeQuarnSrv::Initialize() { return enter("Initialize"); }
STDMETHODIMP FakeQuarnSrv::Uninitialize() { return enter("Uninitialize"); }
STDMETHODIMP FakeQuarnSrv::RegisterWnd(ULONG) { return enter("RegisterWnd"); }
STDMETHODIMP FakeQuarnSrv::DeregisterWnd(ULONG) { return enter("DeregisterWnd"); }
STDMETHODIMP FakeQuarnSrv::APDOpenEntry(ULONG, BSTR path, ULONG)
{
    paths.push_back(textOf(path));
    return enter("APDOpenEntry");
}
STDMETHODIMP FakeQuarnSrv::APDCloseEntry(ULONG, BSTR path)
{
    paths.push_back(textOf(path));
    return enter("APDCloseEntry");
}
STDMETHODIMP FakeQuarnSrv::APDWatchWndChange(ULONG, ULONG) { return enter("APDWatchWndChange"); }
STDMETHODIMP FakeQuarnSrv::APDChangeEntryValueInt(ULONG, BSTR path, LONG value)
{
    paths.push_back(textOf(path));
    HRESULT result = enter("APDChangeEntryValueInt");
    if (SUCCEEDED(result))
        ints[textOf(path)] = value;
    return result;
}
STDMETHODIMP FakeQuarnSrv::APDChangeEntryValueString(ULONG, BSTR path, BSTR value)
{
    paths.push_back(textOf(path));
    HRESULT result = enter("APDChangeEntryValueString");
    if (SUCCEEDED(result))
        strings[textOf(path)] = textOf(value);
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDOpen(BSTR path, ULONG, ULONG* handle)
{
    *handle = 0;
    paths.push_back(textOf(path));
    if (onLookupOpen)
        onLookupOpen(textOf(path));
    HRESULT result = enter("LUDOpen");
    if (FAILED(result))
        return result;
    if (directories.find(textOf(path)) == directories.end())
        return INVALID_PATH;
    *handle = nextHandle_++;
    open_[*handle] = textOf(path);
    return S_OK;
}
STDMETHODIMP FakeQuarnSrv::LUDClose(ULONG handle)
{
    HRESULT result = enter("LUDClose");
    if (SUCCEEDED(result) && open_.erase(handle) == 0)
        result = INVALID_HANDLE;
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryCount(ULONG handle, ULONG* count)
{
    HRESULT result = enter("LUDGetEntryCount");
    if (FAILED(result))
        return result;
    auto open = open_.find(handle);
    if (open == open_.end())
        return INVALID_HANDLE;
    if (pendingUntilRefresh[open->second])
        return PENDING;
    int& pending = pendingCounts[open->second];
    if (pending != 0) {
        if (pending > 0)
            --pending;
        return PENDING;
    }
    *count = static_cast<ULONG>(directories[open->second].size());
    return S_OK;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryName(ULONG handle, ULONG index, BSTR* name)
{
    *name = nullptr;
    HRESULT result = enter("LUDGetEntryName");
    const FakeEntry* e = SUCCEEDED(result) ? entry(handle, index, result) : nullptr;
    if (e != nullptr)
        *name = serverString(e->name);
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryType(ULONG handle, ULONG index, ULONG* type)
{
    *type = 0;
    HRESULT result = enter("LUDGetEntryType");
    const FakeEntry* e = SUCCEEDED(result) ? entry(handle, index, result) : nullptr;
    if (e != nullptr)
        *type = e->type;
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDRefresh(ULONG handle)
{
    HRESULT result = enter("LUDRefresh");
    auto open = open_.find(handle);
    if (SUCCEEDED(result) && open != open_.end())
        pendingUntilRefresh[open->second] = false;
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryValueInt(ULONG handle, ULONG index, LONG* value)
{
    HRESULT result = enter("LUDGetEntryValueInt");
    const FakeEntry* e = SUCCEEDED(result) ? entry(handle, index, result) : nullptr;
    if (e == nullptr)
        return result;
    if (e->type != 1)
        return static_cast<HRESULT>(0x80070057);
    *value = e->intValue;
    return S_OK;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryValueString(ULONG handle, ULONG index, BSTR* value)
{
    *value = nullptr;
    HRESULT result = enter("LUDGetEntryValueString");
    const FakeEntry* e = SUCCEEDED(result) ? entry(handle, index, result) : nullptr;
    if (e != nullptr)
        *value = serverString(e->stringValue);
    return result;
}
STDMETHODIMP FakeQuarnSrv::GetGUIDString(BSTR* text)
{
    *text = nullptr;
    HRESULT result = enter("GetGUIDString");
    if (SUCCEEDED(result))
        *text = SysAllocString(guid.c_str());
    return result;
}
STDMETHODIMP FakeQuarnSrv::GetNewAppID(ULONG* id)
{
    HRESULT result = enter("GetNewAppID");
    if (SUCCEEDED(result))
        *id = nextAppId++;
    return result;
}
STDMETHODIMP FakeQuarnSrv::APDCloseAllEntry(ULONG, BSTR path)
{
    paths.push_back(textOf(path));
    return enter("APDCloseAllEntry");
}
STDMETHODIMP FakeQuarnSrv::DBLock()
{
    HRESULT result = enter("DBLock");
    if (SUCCEEDED(result))
        dbLocked = true;
    return result;
}
STDMETHODIMP FakeQuarnSrv::DBUnlock()
{
    HRESULT result = enter("DBUnlock");
    if (SUCCEEDED(result))
        dbLocked = false;
    return result;
}
STDMETHODIMP FakeQuarnSrv::LUDGetEntryValueBinary(ULONG handle, ULONG index, VARIANT* value)
{
    HRESULT result = enter("LUDGetEntryValueBinary");
    const FakeEntry* e = SUCCEEDED(result) ? entry(handle, index, result) : nullptr;
    if (e == nullptr)
        return result;
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(e->binary.size()));
    void* data = nullptr;
    SafeArrayAccessData(bytes, &data);
    if (!e->binary.empty())
        memcpy(data, e->binary.data(), e->binary.size());
    SafeArrayUnaccessData(bytes);
    V_VT(value) = VT_ARRAY | VT_UI1;
    V_ARRAY(value) = bytes;
    return S_OK;
}
STDMETHODIMP FakeQuarnSrv::APDChangeEntryValueBinary(ULONG, BSTR path, VARIANT)
{
    paths.push_back(textOf(path));
    return enter("APDChangeEntryValueBinary");
}
STDMETHODIMP FakeQuarnSrv::DBIsLocked(LONG* locked)
{
    HRESULT result = enter("DBIsLocked");
    *locked = dbLocked ? 1 : 0;
    return result;
}
STDMETHODIMP FakeQuarnSrv::FileTransferOpen(BSTR destination, BSTR source, BSTR name, ULONG, ULONG* handle)
{
    paths.push_back(textOf(destination));
    paths.push_back(textOf(source));
    paths.push_back(textOf(name));
    HRESULT result = enter("FileTransferOpen");
    *handle = SUCCEEDED(result) ? transferHandle : 0;
    return result;
}
STDMETHODIMP FakeQuarnSrv::FileTransferClose(ULONG handle)
{
    HRESULT result = enter("FileTransferClose");
    closedTransfers.push_back(handle);
    return result;
}
STDMETHODIMP FakeQuarnSrv::FileTransferExec(ULONG handle)
{
    HRESULT result = enter("FileTransferExec");
    if (SUCCEEDED(result) && handle != transferHandle)
        result = INVALID_HANDLE;
    if (SUCCEEDED(result))
        executed.push_back(handle);
    return result;
}
STDMETHODIMP FakeQuarnSrv::FileTransferGetTempName(ULONG handle, BSTR* name)
{
    *name = nullptr;
    HRESULT result = enter("FileTransferGetTempName");
    if (SUCCEEDED(result) && handle != transferHandle)
        result = INVALID_HANDLE;
    if (SUCCEEDED(result))
        *name = SysAllocString(tempName.c_str());
    return result;
}
STDMETHODIMP FakeQuarnSrv::APDWatchWndAdd(ULONG, ULONG, BSTR path)
{
    paths.push_back(textOf(path));
    return enter("APDWatchWndAdd");
}
STDMETHODIMP FakeQuarnSrv::APDWatchWndDel(ULONG) { return enter("APDWatchWndDel"); }
STDMETHODIMP FakeQuarnSrv::FileTransferGetNickname(ULONG, BSTR* name)
{
    *name = nullptr;
    HRESULT result = enter("FileTransferGetNickname");
    if (SUCCEEDED(result))
        *name = SysAllocString(nickname.c_str());
    return result;
}
STDMETHODIMP FakeQuarnSrv::FileTransferGetSenderName(ULONG, BSTR* name)
{
    *name = nullptr;
    return enter("FileTransferGetSenderName");
}
STDMETHODIMP FakeQuarnSrv::GetIP(BSTR path, BSTR* address)
{
    *address = nullptr;
    HRESULT result = enter("GetIP");
    auto known = addresses.find(textOf(path));
    if (SUCCEEDED(result) && known != addresses.end() && known->second.empty())
        result = INVALID_PATH;
    if (SUCCEEDED(result))
        *address = SysAllocString(known != addresses.end() ? known->second.c_str() : L"198.18.0.2");
    return result;
}
STDMETHODIMP FakeQuarnSrv::ProfSelectProfile(ULONG, BSTR, ULONG, LONG* result)
{
    *result = 0;
    return static_cast<HRESULT>(0x80070078);
}
STDMETHODIMP FakeQuarnSrv::GetServerVersion(ULONG* version)
{
    HRESULT result = enter("GetServerVersion");
    *version = 0x00010003;
    return result;
}
STDMETHODIMP FakeQuarnSrv::ProfClearProfile(ULONG, BSTR, LONG* result)
{
    *result = 0;
    return static_cast<HRESULT>(0x80070078);
}
STDMETHODIMP FakeQuarnSrv::LUProfileDirOpen(BSTR, ULONG, ULONG* handle)
{
    *handle = 0;
    return static_cast<HRESULT>(0x80070078);
}
