#include "CQuarnSrv.h"

#include "CQuarnClientWndList.h"
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnModule.h"
#include "CQuarnSrvCore.h"
#include "CQuarnWatchWindow.h"
#include "QuarnCodes.h"

#include <oleauto.h>

#include <new>
#include <string>

CQuarnSrvCore* CQuarnSrv::s_pCore = nullptr;
LONG CQuarnSrv::s_initializeCount = 0;

namespace {

// The shortest interval between two progress notices of a transfer the interface opens.
constexpr DWORD TRANSFER_NOTICE_INTERVAL_MS = 100;

const HRESULT E_QUARN_NO_MEMORY = HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY);
const HRESULT E_QUARN_NOT_IMPLEMENTED = HRESULT_FROM_WIN32(ERROR_CALL_NOT_IMPLEMENTED);

// A text argument: a null BSTR is the empty text.
const WCHAR* textOf(BSTR text) { return text ? text : L""; }

// A path argument: the empty text for a null BSTR; zeros at its end are the terminator that the
// string protocol counts, but a zero before its last character would cut the path short, so
// such a path is no path (ERROR_INVALID_PARAMETER).
bool pathOf(BSTR text, const WCHAR** ppPath)
{
    *ppPath = textOf(text);
    if (!text)
        return true;
    UINT length = SysStringLen(text);
    while (length > 0 && text[length - 1] == L'\0')
        --length;
    if (wcslen(text) < length) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

// Resets a string result before anything else can fail.
void clearText(BSTR* pText)
{
    if (pText)
        *pText = nullptr;
}

// Resets a handle or type result, which is 0 after any failure.
void clearNumber(ULONG* pNumber)
{
    if (pNumber)
        *pNumber = 0;
}

} // namespace

CQuarnSrv::CQuarnSrv() : m_references(1)
{
    CQuarnModule::Instance().Lock();
}

CQuarnSrv::~CQuarnSrv()
{
    CQuarnModule::Instance().Unlock();
}

HRESULT CQuarnSrv::HResultFromLastError()
{
    DWORD error = GetLastError();
    if ((error & 0x1FFF0000) == 0x00040000)
        return static_cast<HRESULT>(error);
    if (error == 0)
        return S_OK;
    return static_cast<HRESULT>(0x80070000 | (error & 0xFFFF));
}

HWND CQuarnSrv::WindowFromNumber(ULONG number)
{
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(number)));
}

HRESULT CQuarnSrv::CheckInitialized()
{
    SetLastError(0);
    if (!s_pCore || !s_pCore->GetDataBase() || !s_pCore->GetComm() || !s_pCore->GetClientWndList())
        return static_cast<HRESULT>(ERROR_QUARN_SERVER_NOT_INITIALIZED);
    s_pCore->Lock(INFINITE);
    SetLastError(0);
    return S_OK;
}

void CQuarnSrv::ReleaseLock()
{
    if (!s_pCore)
        return;
    DWORD error = GetLastError();
    if (s_pCore->IsHeldByCaller())
        s_pCore->Unlock();
    SetLastError(error);
}

HRESULT CQuarnSrv::Finish(bool succeeded)
{
    HRESULT result = succeeded ? S_OK : HResultFromLastError();
    ReleaseLock();
    return result;
}

HRESULT CQuarnSrv::TextResult(const wchar_t* text, size_t length, BSTR* pResult)
{
    if (length == 0)
        return S_OK;
    *pResult = SysAllocStringLen(text, static_cast<UINT>(length));
    return *pResult ? S_OK : E_QUARN_NO_MEMORY;
}

template <typename Read> HRESULT CQuarnSrv::CopyResult(Read read, BSTR* pResult)
{
    DWORD size = 0;
    if (read(nullptr, &size))
        return S_OK;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return HResultFromLastError();
    // Room for the zero alone: an empty value, which is a null BSTR.
    if (size <= 1)
        return S_OK;
    BSTR text = SysAllocStringLen(nullptr, size);
    if (!text)
        return E_QUARN_NO_MEMORY;
    if (!read(text, &size)) {
        HRESULT result = HResultFromLastError();
        SysFreeString(text);
        return result;
    }
    *pResult = text;
    return S_OK;
}

// IUnknown

STDMETHODIMP CQuarnSrv::QueryInterface(REFIID iid, void** ppObject)
{
    if (!ppObject)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IQuarnSrv)) {
        *ppObject = static_cast<IQuarnSrv*>(this);
        AddRef();
        return S_OK;
    }
    *ppObject = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CQuarnSrv::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

STDMETHODIMP_(ULONG) CQuarnSrv::Release()
{
    LONG references = InterlockedDecrement(&m_references);
    if (references == 0)
        delete this;
    return static_cast<ULONG>(references);
}

// IDispatch

ITypeInfo* CQuarnSrv::GetInterfaceInfo()
{
    // Loaded once from this module's own type library and kept for the process.
    static ITypeInfo* info = [] {
        WCHAR path[MAX_PATH + 1];
        DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return static_cast<ITypeInfo*>(nullptr);
        ITypeLib* library = nullptr;
        if (FAILED(LoadTypeLibEx(path, REGKIND_NONE, &library)))
            return static_cast<ITypeInfo*>(nullptr);
        ITypeInfo* found = nullptr;
        if (FAILED(library->GetTypeInfoOfGuid(IID_IQuarnSrv, &found)))
            found = nullptr;
        library->Release();
        return found;
    }();
    return info;
}

STDMETHODIMP CQuarnSrv::GetTypeInfoCount(UINT* pCount)
{
    if (!pCount)
        return E_POINTER;
    *pCount = 1;
    return S_OK;
}

STDMETHODIMP CQuarnSrv::GetTypeInfo(UINT index, LCID, ITypeInfo** ppInfo)
{
    if (!ppInfo)
        return E_POINTER;
    *ppInfo = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    ITypeInfo* info = GetInterfaceInfo();
    if (!info)
        return TYPE_E_ELEMENTNOTFOUND;
    info->AddRef();
    *ppInfo = info;
    return S_OK;
}

STDMETHODIMP CQuarnSrv::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = GetInterfaceInfo();
    if (!info)
        return TYPE_E_ELEMENTNOTFOUND;
    return DispGetIDsOfNames(info, names, count, ids);
}

STDMETHODIMP CQuarnSrv::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = GetInterfaceInfo();
    if (!info)
        return TYPE_E_ELEMENTNOTFOUND;
    return DispInvoke(static_cast<IQuarnSrv*>(this), info, id, flags, params, result, exception, argumentError);
}

// IQuarnSrv: the core's life

STDMETHODIMP CQuarnSrv::Initialize()
{
    SetLastError(0);
    if (s_pCore) {
        ++s_initializeCount;
        return S_OK;
    }
    CQuarnSrvCore* core = new (std::nothrow) CQuarnSrvCore;
    if (!core)
        return E_QUARN_NO_MEMORY;
    HRESULT result = S_OK;
    if (!core->Lock(INFINITE)) {
        result = static_cast<HRESULT>(ERROR_QUARN_SERVER_BUSY);
    } else if (!core->Start()) {
        result = HResultFromLastError();
        // A start that failed without telling why still fails: there is no core.
        if (SUCCEEDED(result))
            result = E_FAIL;
    }
    if (core->IsHeldByCaller())
        core->Unlock();
    if (FAILED(result)) {
        delete core;
        return result;
    }
    s_pCore = core;
    ++s_initializeCount;
    return S_OK;
}

STDMETHODIMP CQuarnSrv::Uninitialize()
{
    SetLastError(0);
    --s_initializeCount;
    if (s_initializeCount < 0) {
        s_initializeCount = 0;
        return static_cast<HRESULT>(ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO);
    }
    if (s_initializeCount > 0)
        return S_OK;
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!s_pCore->Stop())
        return Finish(false);
    ReleaseLock();
    delete s_pCore;
    s_pCore = nullptr;
    return S_OK;
}

// IQuarnSrv: client windows

STDMETHODIMP CQuarnSrv::RegisterWnd(ULONG hWnd)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetClientWndList()->Add(WindowFromNumber(hWnd)));
}

STDMETHODIMP CQuarnSrv::DeregisterWnd(ULONG hWnd)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetClientWndList()->Remove(WindowFromNumber(hWnd)));
}

// IQuarnSrv: the application directories

STDMETHODIMP CQuarnSrv::APDOpenEntry(ULONG ulAppID, BSTR strEntry, ULONG ulType)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    if (ulType == QUARNTYPE_DIR) {
        SetLastError(ERROR_QUARN_COMMON_TYPE_MISMATCH);
        return Finish(false);
    }
    return Finish(s_pCore->GetDataBase()->OpenLeafEntry(ulAppID, path, ulType) != nullptr);
}

STDMETHODIMP CQuarnSrv::APDCloseEntry(ULONG ulAppID, BSTR strEntry)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    return Finish(s_pCore->GetDataBase()->CloseEntry(ulAppID, path));
}

STDMETHODIMP CQuarnSrv::APDWatchWndChange(ULONG dwAppID, ULONG dwHwnd)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
    return Finish(watch && watch->Change(dwAppID, WindowFromNumber(dwHwnd)));
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueInt(ULONG ulAppID, BSTR strEntry, LONG ulValue)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    return Finish(s_pCore->GetDataBase()->SetValueInt(ulAppID, path, ulValue));
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueString(ULONG ulAppID, BSTR strEntry, BSTR strValue)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    return Finish(s_pCore->GetDataBase()->SetValueString(ulAppID, path, textOf(strValue)));
}

STDMETHODIMP CQuarnSrv::APDCloseAllEntry(ULONG ulAppID, BSTR strEntry)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    bool closed = s_pCore->GetDataBase()->CloseAllEntries(ulAppID, path);
    if (!closed && GetLastError() == ERROR_QUARN_DB_REFERNCE_NOT_FOUND)
        closed = true;
    return Finish(closed);
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueBinary(ULONG ulAppID, BSTR strEntry, VARIANT varValue)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(strEntry, &path))
        return Finish(false);
    SAFEARRAY* array = nullptr;
    if (V_VT(&varValue) & VT_ARRAY)
        array = (V_VT(&varValue) & VT_BYREF) ? (V_ARRAYREF(&varValue) ? *V_ARRAYREF(&varValue) : nullptr)
                                             : V_ARRAY(&varValue);
    LONG lower = 0, upper = -1;
    if (!array || SafeArrayGetDim(array) < 1 || FAILED(SafeArrayGetLBound(array, 1, &lower))
        || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    // The first dimension's element count, in bytes, but never beyond the array's data.
    ULONGLONG count = upper >= lower ? static_cast<ULONGLONG>(static_cast<LONGLONG>(upper) - lower + 1) : 0;
    ULONGLONG total = array->cbElements;
    for (UINT dimension = 0; dimension < array->cDims; ++dimension)
        total *= array->rgsabound[dimension].cElements;
    if (count > total)
        count = total;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    bool set = s_pCore->GetDataBase()->SetValueBinary(ulAppID, path, static_cast<const BYTE*>(data),
                                                      static_cast<DWORD>(count));
    DWORD error = GetLastError();
    SafeArrayUnaccessData(array);
    SetLastError(error);
    return Finish(set);
}

STDMETHODIMP CQuarnSrv::APDWatchWndAdd(ULONG dwAppID, ULONG dwHwnd, BSTR bstrDir)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    if (!pathOf(bstrDir, &path))
        return Finish(false);
    CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
    // A record without a directory could never be cleaned up by path.
    return Finish(watch && watch->Add(dwAppID, WindowFromNumber(dwHwnd), *path ? path : nullptr));
}

STDMETHODIMP CQuarnSrv::APDWatchWndDel(ULONG dwAppID)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
    return Finish(watch && watch->Delete(dwAppID));
}

// IQuarnSrv: the database lock

STDMETHODIMP CQuarnSrv::DBLock()
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetDataBase()->Lock(INFINITE));
}

STDMETHODIMP CQuarnSrv::DBUnlock()
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetDataBase()->Unlock());
}

STDMETHODIMP CQuarnSrv::DBIsLocked(LONG* pbResult)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!pbResult) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    *pbResult = s_pCore->GetDataBase()->IsLocked() ? 1 : 0;
    return Finish(true);
}

// IQuarnSrv: lookup directories

STDMETHODIMP CQuarnSrv::LUDOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir)
{
    clearNumber(ulLUDir);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    DWORD handle = 0;
    if (pathOf(strEntry, &path))
        handle = s_pCore->GetComm()->LookupOpen(path, WindowFromNumber(ulHWnd));
    if (ulLUDir)
        *ulLUDir = handle;
    return Finish(handle != 0);
}

STDMETHODIMP CQuarnSrv::LUDClose(ULONG ulLUDir)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetComm()->LookupClose(ulLUDir));
}

STDMETHODIMP CQuarnSrv::LUDRefresh(ULONG ulLUDir)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetComm()->LookupRefresh(ulLUDir));
}

STDMETHODIMP CQuarnSrv::LUDGetEntryCount(ULONG ulLUDir, ULONG* pulCount)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    DWORD count = 0;
    bool read = s_pCore->GetComm()->LookupGetEntryCount(ulLUDir, &count);
    if (read && pulCount)
        *pulCount = count;
    return Finish(read);
}

STDMETHODIMP CQuarnSrv::LUDGetEntryName(ULONG ulLUDir, ULONG ulIndex, BSTR* strEntry)
{
    clearText(strEntry);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!strEntry) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    CQuarnComm* comm = s_pCore->GetComm();
    result = CopyResult(
        [&](WCHAR* buffer, DWORD* pSize) { return comm->LookupGetEntryName(ulLUDir, ulIndex, buffer, pSize); },
        strEntry);
    ReleaseLock();
    return result;
}

STDMETHODIMP CQuarnSrv::LUDGetEntryType(ULONG ulLUDir, ULONG ulIndex, ULONG* pulType)
{
    clearNumber(pulType);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    DWORD type = 0;
    bool read = s_pCore->GetComm()->LookupGetEntryType(ulLUDir, ulIndex, &type);
    if (pulType)
        *pulType = read ? type : 0;
    return Finish(read);
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueInt(ULONG ulLUDir, ULONG ulIndex, LONG* plValue)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    LONG value = 0;
    bool read = s_pCore->GetComm()->LookupGetEntryValueInt(ulLUDir, ulIndex, &value);
    if (read && plValue)
        *plValue = value;
    return Finish(read);
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueString(ULONG ulLUDir, ULONG ulIndex, BSTR* pstrValue)
{
    clearText(pstrValue);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!pstrValue) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    CQuarnComm* comm = s_pCore->GetComm();
    result = CopyResult(
        [&](WCHAR* buffer, DWORD* pSize) { return comm->LookupGetEntryValueString(ulLUDir, ulIndex, buffer, pSize); },
        pstrValue);
    ReleaseLock();
    return result;
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueBinary(ULONG ulLUDir, ULONG ulIndex, VARIANT* pvarValue)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!pvarValue) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    CQuarnComm* comm = s_pCore->GetComm();
    DWORD size = 0;
    if (!comm->LookupGetEntryValueBinary(ulLUDir, ulIndex, nullptr, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return Finish(false);
    VariantInit(pvarValue);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
    if (!array) {
        ReleaseLock();
        return E_QUARN_NO_MEMORY;
    }
    bool read = true;
    // An empty value is an empty array, whether or not the platform gives it a data pointer.
    if (size > 0) {
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data)) || !data) {
            SafeArrayDestroy(array);
            ReleaseLock();
            return E_QUARN_NO_MEMORY;
        }
        read = comm->LookupGetEntryValueBinary(ulLUDir, ulIndex, static_cast<BYTE*>(data), &size);
        DWORD error = GetLastError();
        SafeArrayUnaccessData(array);
        SetLastError(error);
    }
    if (!read) {
        SafeArrayDestroy(array);
        return Finish(false);
    }
    V_VT(pvarValue) = VT_ARRAY | VT_UI1;
    V_ARRAY(pvarValue) = array;
    return Finish(true);
}

STDMETHODIMP CQuarnSrv::GetIP(BSTR strDir, BSTR* pstrIP)
{
    clearText(pstrIP);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* path;
    std::wstring address;
    if (!pathOf(strDir, &path) || !pstrIP || !s_pCore->GetComm()->GetIP(path, address)) {
        if (!pstrIP)
            SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    result = TextResult(address.c_str(), address.size(), pstrIP);
    ReleaseLock();
    return result;
}

// IQuarnSrv: this node

STDMETHODIMP CQuarnSrv::GetGUIDString(BSTR* pstrEntry)
{
    clearText(pstrEntry);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const std::wstring& text = s_pCore->GetGuidText();
    if (!pstrEntry || text.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    result = TextResult(text.c_str(), text.size(), pstrEntry);
    ReleaseLock();
    return result;
}

STDMETHODIMP CQuarnSrv::GetNewAppID(ULONG* ulAppID)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!ulAppID) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    *ulAppID = s_pCore->GetNewAppId();
    return Finish(true);
}

STDMETHODIMP CQuarnSrv::GetServerVersion(ULONG* pulVer)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    if (!pulVer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Finish(false);
    }
    *pulVer = QUARN_SERVER_VERSION;
    return Finish(true);
}

// IQuarnSrv: file transfers

STDMETHODIMP CQuarnSrv::FileTransferOpen(BSTR bstrDstDir, BSTR bstrSrcDir, BSTR bstrNickname, ULONG dwHwnd,
                                         ULONG* dwHandle)
{
    clearNumber(dwHandle);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    const WCHAR* destination;
    const WCHAR* source;
    DWORD handle = 0;
    if (pathOf(bstrDstDir, &destination) && pathOf(bstrSrcDir, &source))
        handle = s_pCore->GetComm()->FileTransferOpen(destination, source, textOf(bstrNickname),
                                                      WindowFromNumber(dwHwnd), TRANSFER_NOTICE_INTERVAL_MS);
    if (dwHandle)
        *dwHandle = handle;
    return Finish(handle != 0);
}

STDMETHODIMP CQuarnSrv::FileTransferClose(ULONG dwHandle)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetComm()->FileTransferClose(dwHandle));
}

STDMETHODIMP CQuarnSrv::FileTransferExec(ULONG dwHandle)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(s_pCore->GetComm()->FileTransferExec(dwHandle));
}

namespace {

template <typename Get> HRESULT transferText(Get get, BSTR* pText)
{
    std::wstring text;
    if (!pText) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return CQuarnSrv::HResultFromLastError();
    }
    if (!get(text))
        return CQuarnSrv::HResultFromLastError();
    // Up to the first zero: what the layer holds is a C text for every reader.
    size_t length = wcsnlen(text.c_str(), text.size());
    if (length == 0)
        return S_OK;
    *pText = SysAllocStringLen(text.c_str(), static_cast<UINT>(length));
    return *pText ? S_OK : E_QUARN_NO_MEMORY;
}

} // namespace

STDMETHODIMP CQuarnSrv::FileTransferGetTempName(ULONG dwHandle, BSTR* strEntry)
{
    clearText(strEntry);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    CQuarnComm* comm = s_pCore->GetComm();
    result = transferText([&](std::wstring& text) { return comm->FileTransferGetTempName(dwHandle, text); }, strEntry);
    ReleaseLock();
    return result;
}

STDMETHODIMP CQuarnSrv::FileTransferGetNickname(ULONG dwHandle, BSTR* pbstrNickname)
{
    clearText(pbstrNickname);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    CQuarnComm* comm = s_pCore->GetComm();
    result = transferText([&](std::wstring& text) { return comm->FileTransferGetNickname(dwHandle, text); },
                          pbstrNickname);
    ReleaseLock();
    return result;
}

STDMETHODIMP CQuarnSrv::FileTransferGetSenderName(ULONG dwHandle, BSTR* pbstrSenderName)
{
    clearText(pbstrSenderName);
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    CQuarnComm* comm = s_pCore->GetComm();
    result = transferText([&](std::wstring& text) { return comm->FileTransferGetSenderName(dwHandle, text); },
                          pbstrSenderName);
    ReleaseLock();
    return result;
}

// IQuarnSrv: the profile methods, never implemented

STDMETHODIMP CQuarnSrv::ProfSelectProfile(ULONG, BSTR, ULONG, LONG* pbResult)
{
    if (pbResult)
        *pbResult = 0;
    return E_QUARN_NOT_IMPLEMENTED;
}

STDMETHODIMP CQuarnSrv::ProfClearProfile(ULONG, BSTR, LONG* pbResult)
{
    if (pbResult)
        *pbResult = 0;
    return E_QUARN_NOT_IMPLEMENTED;
}

STDMETHODIMP CQuarnSrv::LUProfileDirOpen(BSTR, ULONG, ULONG* ulLUDir)
{
    if (ulLUDir)
        *ulLUDir = 0;
    return E_QUARN_NOT_IMPLEMENTED;
}
