#include "CQuarnSrv.h"
#include "CQuarnTypeInfo.h"

#include "CQuarnClientWndList.h"
#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnModule.h"
#include "CQuarnServerBuild.h"
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

// Stores a result; a missing place for it is a wrong argument.
template <typename T, typename V> bool setResult(T* pResult, V value)
{
    if (!pResult) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *pResult = static_cast<T>(value);
    return true;
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

HRESULT CQuarnSrv::TextResult(const std::wstring& text, BSTR* pResult)
{
    if (!pResult) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HResultFromLastError();
    }
    if (text.empty())
        return S_OK;
    *pResult = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    return *pResult ? S_OK : E_QUARN_NO_MEMORY;
}

template <typename Operation> HRESULT CQuarnSrv::Call(Operation operation)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    return Finish(operation());
}

template <typename Operation> HRESULT CQuarnSrv::CallOnPath(BSTR path, Operation operation)
{
    return Call([&] {
        const WCHAR* text;
        return pathOf(path, &text) && operation(text);
    });
}

template <typename Operation> HRESULT CQuarnSrv::CallForResult(Operation operation)
{
    HRESULT result = CheckInitialized();
    if (FAILED(result))
        return result;
    result = operation();
    ReleaseLock();
    return result;
}

template <typename Read> HRESULT CQuarnSrv::CopyResult(Read read, BSTR* pResult)
{
    if (!pResult) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return HResultFromLastError();
    }
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

const CQuarnTypeInfo& CQuarnSrv::GetInterfaceInfo()
{
    // Loaded on first use and kept for the process.
    static const CQuarnTypeInfo info(IID_IQuarnSrv);
    return info;
}

STDMETHODIMP CQuarnSrv::GetTypeInfoCount(UINT* pCount)
{
    return GetInterfaceInfo().GetTypeInfoCount(pCount);
}

STDMETHODIMP CQuarnSrv::GetTypeInfo(UINT index, LCID, ITypeInfo** ppInfo)
{
    return GetInterfaceInfo().GetTypeInfo(index, ppInfo);
}

STDMETHODIMP CQuarnSrv::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return GetInterfaceInfo().GetIDsOfNames(iid, names, count, ids);
}

STDMETHODIMP CQuarnSrv::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argumentError)
{
    return GetInterfaceInfo().Invoke(static_cast<IQuarnSrv*>(this), id, iid, flags, params, result, exception,
                                     argumentError);
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
    return Call([&] { return s_pCore->GetClientWndList()->Add(WindowFromNumber(hWnd)); });
}

STDMETHODIMP CQuarnSrv::DeregisterWnd(ULONG hWnd)
{
    return Call([&] { return s_pCore->GetClientWndList()->Remove(WindowFromNumber(hWnd)); });
}

// IQuarnSrv: the application directories

STDMETHODIMP CQuarnSrv::APDOpenEntry(ULONG ulAppID, BSTR strEntry, ULONG ulType)
{
    return CallOnPath(strEntry, [&](const WCHAR* path) {
        if (ulType == QUARNTYPE_DIR) {
            SetLastError(ERROR_QUARN_COMMON_TYPE_MISMATCH);
            return false;
        }
        return s_pCore->GetDataBase()->OpenLeafEntry(ulAppID, path, ulType) != nullptr;
    });
}

STDMETHODIMP CQuarnSrv::APDCloseEntry(ULONG ulAppID, BSTR strEntry)
{
    return CallOnPath(strEntry, [&](const WCHAR* path) { return s_pCore->GetDataBase()->CloseEntry(ulAppID, path); });
}

STDMETHODIMP CQuarnSrv::APDWatchWndChange(ULONG dwAppID, ULONG dwHwnd)
{
    return Call([&] {
        CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
        return watch && watch->Change(dwAppID, WindowFromNumber(dwHwnd));
    });
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueInt(ULONG ulAppID, BSTR strEntry, LONG ulValue)
{
    return CallOnPath(strEntry,
                      [&](const WCHAR* path) { return s_pCore->GetDataBase()->SetValueInt(ulAppID, path, ulValue); });
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueString(ULONG ulAppID, BSTR strEntry, BSTR strValue)
{
    return CallOnPath(strEntry, [&](const WCHAR* path) {
        return s_pCore->GetDataBase()->SetValueString(ulAppID, path, textOf(strValue));
    });
}

STDMETHODIMP CQuarnSrv::APDCloseAllEntry(ULONG ulAppID, BSTR strEntry)
{
    return CallOnPath(strEntry, [&](const WCHAR* path) {
        return s_pCore->GetDataBase()->CloseAllEntries(ulAppID, path)
            || GetLastError() == ERROR_QUARN_DB_REFERNCE_NOT_FOUND;
    });
}

STDMETHODIMP CQuarnSrv::APDChangeEntryValueBinary(ULONG ulAppID, BSTR strEntry, VARIANT varValue)
{
    return CallOnPath(strEntry, [&](const WCHAR* path) {
        SAFEARRAY* array = nullptr;
        if (V_VT(&varValue) & VT_ARRAY)
            array = (V_VT(&varValue) & VT_BYREF) ? (V_ARRAYREF(&varValue) ? *V_ARRAYREF(&varValue) : nullptr)
                                                 : V_ARRAY(&varValue);
        LONG lower = 0, upper = -1;
        if (!array || SafeArrayGetDim(array) < 1 || FAILED(SafeArrayGetLBound(array, 1, &lower))
            || FAILED(SafeArrayGetUBound(array, 1, &upper))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        // The first dimension's element count, in bytes, but never beyond the array's data.
        ULONGLONG count = upper >= lower ? static_cast<ULONGLONG>(static_cast<LONGLONG>(upper) - lower + 1) : 0;
        ULONGLONG total = array->cbElements;
        for (UINT dimension = 0; dimension < array->cDims; ++dimension)
            total *= array->rgsabound[dimension].cElements;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        bool set = s_pCore->GetDataBase()->SetValueBinary(ulAppID, path, static_cast<const BYTE*>(data),
                                                          static_cast<DWORD>(count < total ? count : total));
        DWORD error = GetLastError();
        SafeArrayUnaccessData(array);
        SetLastError(error);
        return set;
    });
}

STDMETHODIMP CQuarnSrv::APDWatchWndAdd(ULONG dwAppID, ULONG dwHwnd, BSTR bstrDir)
{
    return CallOnPath(bstrDir, [&](const WCHAR* path) {
        CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
        // A record without a directory could never be cleaned up by path.
        return watch && watch->Add(dwAppID, WindowFromNumber(dwHwnd), *path ? path : nullptr);
    });
}

STDMETHODIMP CQuarnSrv::APDWatchWndDel(ULONG dwAppID)
{
    return Call([&] {
        CQuarnWatchWindow* watch = s_pCore->GetWatchWindow();
        return watch && watch->Delete(dwAppID);
    });
}

// IQuarnSrv: the database lock

STDMETHODIMP CQuarnSrv::DBLock()
{
    return Call([] { return s_pCore->GetDataBase()->Lock(INFINITE); });
}

STDMETHODIMP CQuarnSrv::DBUnlock()
{
    return Call([] { return s_pCore->GetDataBase()->Unlock(); });
}

STDMETHODIMP CQuarnSrv::DBIsLocked(LONG* pbResult)
{
    return Call([&] { return setResult(pbResult, s_pCore->GetDataBase()->IsLocked() ? 1 : 0); });
}

// IQuarnSrv: lookup directories

STDMETHODIMP CQuarnSrv::LUDOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir)
{
    clearNumber(ulLUDir);
    return CallOnPath(strEntry, [&](const WCHAR* path) {
        DWORD handle = s_pCore->GetComm()->LookupOpen(path, WindowFromNumber(ulHWnd));
        return setResult(ulLUDir, handle) && handle != 0;
    });
}

STDMETHODIMP CQuarnSrv::LUDClose(ULONG ulLUDir)
{
    return Call([&] { return s_pCore->GetComm()->LookupClose(ulLUDir); });
}

STDMETHODIMP CQuarnSrv::LUDRefresh(ULONG ulLUDir)
{
    return Call([&] { return s_pCore->GetComm()->LookupRefresh(ulLUDir); });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryCount(ULONG ulLUDir, ULONG* pulCount)
{
    return Call([&] {
        DWORD count = 0;
        return s_pCore->GetComm()->LookupGetEntryCount(ulLUDir, &count) && setResult(pulCount, count);
    });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryName(ULONG ulLUDir, ULONG ulIndex, BSTR* strEntry)
{
    clearText(strEntry);
    return CallForResult([&] {
        CQuarnComm* comm = s_pCore->GetComm();
        return CopyResult(
            [&](WCHAR* buffer, DWORD* pSize) { return comm->LookupGetEntryName(ulLUDir, ulIndex, buffer, pSize); },
            strEntry);
    });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryType(ULONG ulLUDir, ULONG ulIndex, ULONG* pulType)
{
    clearNumber(pulType);
    return Call([&] {
        DWORD type = 0;
        return s_pCore->GetComm()->LookupGetEntryType(ulLUDir, ulIndex, &type) && setResult(pulType, type);
    });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueInt(ULONG ulLUDir, ULONG ulIndex, LONG* plValue)
{
    return Call([&] {
        LONG value = 0;
        return s_pCore->GetComm()->LookupGetEntryValueInt(ulLUDir, ulIndex, &value) && setResult(plValue, value);
    });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueString(ULONG ulLUDir, ULONG ulIndex, BSTR* pstrValue)
{
    clearText(pstrValue);
    return CallForResult([&] {
        CQuarnComm* comm = s_pCore->GetComm();
        return CopyResult(
            [&](WCHAR* buffer, DWORD* pSize) { return comm->LookupGetEntryValueString(ulLUDir, ulIndex, buffer, pSize); },
            pstrValue);
    });
}

STDMETHODIMP CQuarnSrv::LUDGetEntryValueBinary(ULONG ulLUDir, ULONG ulIndex, VARIANT* pvarValue)
{
    return CallForResult([&] {
        if (!pvarValue) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return HResultFromLastError();
        }
        CQuarnComm* comm = s_pCore->GetComm();
        DWORD size = 0;
        if (!comm->LookupGetEntryValueBinary(ulLUDir, ulIndex, nullptr, &size)
            && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return HResultFromLastError();
        VariantInit(pvarValue);
        SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, size);
        if (!array)
            return E_QUARN_NO_MEMORY;
        // An empty value is an empty array, whether or not the platform gives it a data pointer.
        if (size > 0) {
            void* data = nullptr;
            if (FAILED(SafeArrayAccessData(array, &data)) || !data) {
                SafeArrayDestroy(array);
                return E_QUARN_NO_MEMORY;
            }
            bool read = comm->LookupGetEntryValueBinary(ulLUDir, ulIndex, static_cast<BYTE*>(data), &size);
            HRESULT result = HResultFromLastError();
            SafeArrayUnaccessData(array);
            if (!read) {
                SafeArrayDestroy(array);
                return result;
            }
        }
        V_VT(pvarValue) = VT_ARRAY | VT_UI1;
        V_ARRAY(pvarValue) = array;
        return S_OK;
    });
}

STDMETHODIMP CQuarnSrv::GetIP(BSTR strDir, BSTR* pstrIP)
{
    clearText(pstrIP);
    return CallForResult([&] {
        const WCHAR* path;
        std::wstring address;
        if (!pathOf(strDir, &path) || !s_pCore->GetComm()->GetIP(path, address))
            return HResultFromLastError();
        return TextResult(address, pstrIP);
    });
}

// IQuarnSrv: this node

STDMETHODIMP CQuarnSrv::GetGUIDString(BSTR* pstrEntry)
{
    clearText(pstrEntry);
    return CallForResult([&] {
        if (s_pCore->GetGuidText().empty()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return HResultFromLastError();
        }
        return TextResult(s_pCore->GetGuidText(), pstrEntry);
    });
}

STDMETHODIMP CQuarnSrv::GetNewAppID(ULONG* ulAppID)
{
    return Call([&] { return setResult(ulAppID, s_pCore->GetNewAppId()); });
}

STDMETHODIMP CQuarnSrv::GetServerVersion(ULONG* pulVer)
{
    return Call([&] { return setResult(pulVer, CQuarnServerBuild::Current().Version()); });
}

// IQuarnSrv: file transfers

STDMETHODIMP CQuarnSrv::FileTransferOpen(BSTR bstrDstDir, BSTR bstrSrcDir, BSTR bstrNickname, ULONG dwHwnd,
                                         ULONG* dwHandle)
{
    clearNumber(dwHandle);
    return CallOnPath(bstrDstDir, [&](const WCHAR* destination) {
        const WCHAR* source;
        if (!pathOf(bstrSrcDir, &source))
            return false;
        DWORD handle = s_pCore->GetComm()->FileTransferOpen(destination, source, textOf(bstrNickname),
                                                            WindowFromNumber(dwHwnd), TRANSFER_NOTICE_INTERVAL_MS);
        return setResult(dwHandle, handle) && handle != 0;
    });
}

STDMETHODIMP CQuarnSrv::FileTransferClose(ULONG dwHandle)
{
    return Call([&] { return s_pCore->GetComm()->FileTransferClose(dwHandle); });
}

STDMETHODIMP CQuarnSrv::FileTransferExec(ULONG dwHandle)
{
    return Call([&] { return s_pCore->GetComm()->FileTransferExec(dwHandle); });
}

STDMETHODIMP CQuarnSrv::FileTransferGetTempName(ULONG dwHandle, BSTR* strEntry)
{
    return TransferText(dwHandle, &CQuarnComm::FileTransferGetTempName, strEntry);
}

STDMETHODIMP CQuarnSrv::FileTransferGetNickname(ULONG dwHandle, BSTR* pbstrNickname)
{
    return TransferText(dwHandle, &CQuarnComm::FileTransferGetNickname, pbstrNickname);
}

STDMETHODIMP CQuarnSrv::FileTransferGetSenderName(ULONG dwHandle, BSTR* pbstrSenderName)
{
    return TransferText(dwHandle, &CQuarnComm::FileTransferGetSenderName, pbstrSenderName);
}

HRESULT CQuarnSrv::TransferText(ULONG handle, bool (CQuarnComm::*get)(DWORD, std::wstring&), BSTR* pText)
{
    clearText(pText);
    return CallForResult([&] {
        std::wstring text;
        if (!(s_pCore->GetComm()->*get)(handle, text))
            return HResultFromLastError();
        // Up to the first zero: what the layer holds is a C text for every reader.
        return TextResult(std::wstring(text.c_str()), pText);
    });
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
