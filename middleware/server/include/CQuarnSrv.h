#pragma once
// The server object: one per client, all sharing the process's one server core. Each method
// checks that the core is up, holds the core lock for the call, runs one operation of the core,
// the database or the communication layer and turns its outcome into an HRESULT. IDispatch is
// served from the type library (resource 1 of the module).
#include "quarnhost.h"

#include <windows.h>

#include <string>

class CQuarnComm;
class CQuarnTypeInfo;
class CQuarnSrvCore;

class CQuarnSrv : public IQuarnSrv {
public:
    CQuarnSrv();
    virtual ~CQuarnSrv();
    CQuarnSrv(const CQuarnSrv&) = delete;
    CQuarnSrv& operator=(const CQuarnSrv&) = delete;

    // The HRESULT of the thread's last error: the middleware's own codes (facility 4) as they
    // stand, a platform error e as 0x80070000 | (e & 0xFFFF), none as S_OK.
    static HRESULT HResultFromLastError();
    // Windows cross the interface as 32-bit numbers; handles of the platform are sign-extended.
    static HWND WindowFromNumber(ULONG number);
    // The process's core, null while no client has initialised it.
    static CQuarnSrvCore* GetCore() { return s_pCore; }
    static LONG GetInitializeCount() { return s_initializeCount; }
    // The start of every method's frame: ERROR_QUARN_SERVER_NOT_INITIALIZED unless the core is
    // up; otherwise takes the core lock. The thread's last error is cleared, so that no earlier
    // code leaks into the result.
    static HRESULT CheckInitialized();
    // The frame's end: releases the core lock once when the calling thread holds it.
    static void ReleaseLock();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** ppObject) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pCount) override;
    STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** ppInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argumentError) override;

    // IQuarnSrv
    STDMETHODIMP Initialize() override;
    STDMETHODIMP Uninitialize() override;
    STDMETHODIMP RegisterWnd(ULONG hWnd) override;
    STDMETHODIMP DeregisterWnd(ULONG hWnd) override;
    STDMETHODIMP APDOpenEntry(ULONG ulAppID, BSTR strEntry, ULONG ulType) override;
    STDMETHODIMP APDCloseEntry(ULONG ulAppID, BSTR strEntry) override;
    STDMETHODIMP APDWatchWndChange(ULONG dwAppID, ULONG dwHwnd) override;
    STDMETHODIMP APDChangeEntryValueInt(ULONG ulAppID, BSTR strEntry, LONG ulValue) override;
    STDMETHODIMP APDChangeEntryValueString(ULONG ulAppID, BSTR strEntry, BSTR strValue) override;
    STDMETHODIMP LUDOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir) override;
    STDMETHODIMP LUDClose(ULONG ulLUDir) override;
    STDMETHODIMP LUDGetEntryCount(ULONG ulLUDir, ULONG* pulCount) override;
    STDMETHODIMP LUDGetEntryName(ULONG ulLUDir, ULONG ulIndex, BSTR* strEntry) override;
    STDMETHODIMP LUDGetEntryType(ULONG ulLUDir, ULONG ulIndex, ULONG* pulType) override;
    STDMETHODIMP LUDRefresh(ULONG ulLUDir) override;
    STDMETHODIMP LUDGetEntryValueInt(ULONG ulLUDir, ULONG ulIndex, LONG* plValue) override;
    STDMETHODIMP LUDGetEntryValueString(ULONG ulLUDir, ULONG ulIndex, BSTR* pstrValue) override;
    STDMETHODIMP GetGUIDString(BSTR* pstrEntry) override;
    STDMETHODIMP GetNewAppID(ULONG* ulAppID) override;
    STDMETHODIMP APDCloseAllEntry(ULONG ulAppID, BSTR strEntry) override;
    STDMETHODIMP DBLock() override;
    STDMETHODIMP DBUnlock() override;
    STDMETHODIMP LUDGetEntryValueBinary(ULONG ulLUDir, ULONG ulIndex, VARIANT* pvarValue) override;
    STDMETHODIMP APDChangeEntryValueBinary(ULONG ulAppID, BSTR strEntry, VARIANT varValue) override;
    STDMETHODIMP DBIsLocked(LONG* pbResult) override;
    STDMETHODIMP FileTransferOpen(BSTR bstrDstDir, BSTR bstrSrcDir, BSTR bstrNickname, ULONG dwHwnd,
                                  ULONG* dwHandle) override;
    STDMETHODIMP FileTransferClose(ULONG dwHandle) override;
    STDMETHODIMP FileTransferExec(ULONG dwHandle) override;
    STDMETHODIMP FileTransferGetTempName(ULONG dwHandle, BSTR* strEntry) override;
    STDMETHODIMP APDWatchWndAdd(ULONG dwAppID, ULONG dwHwnd, BSTR bstrDir) override;
    STDMETHODIMP APDWatchWndDel(ULONG dwAppID) override;
    STDMETHODIMP FileTransferGetNickname(ULONG dwHandle, BSTR* pbstrNickname) override;
    STDMETHODIMP FileTransferGetSenderName(ULONG dwHandle, BSTR* pbstrSenderName) override;
    STDMETHODIMP GetIP(BSTR strDir, BSTR* pstrIP) override;
    STDMETHODIMP ProfSelectProfile(ULONG ulAppInstanceID, BSTR strDir, ULONG ulID, LONG* pbResult) override;
    STDMETHODIMP GetServerVersion(ULONG* pulVer) override;
    STDMETHODIMP ProfClearProfile(ULONG ulAppInstanceID, BSTR strDir, LONG* pbResult) override;
    STDMETHODIMP LUProfileDirOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir) override;

private:
    // The frame's end: the lock released, S_OK when the operation succeeded.
    HRESULT Finish(bool succeeded);
    // The frame of a method: the core checked and locked, the operation (true: done; false:
    // failed with the thread's last error), the lock released.
    template <typename Operation> HRESULT Call(Operation operation);
    // The same for an operation on a path argument (see the string protocol).
    template <typename Operation> HRESULT CallOnPath(BSTR path, Operation operation);
    // The frame of a method whose operation answers its HRESULT itself.
    template <typename Operation> HRESULT CallForResult(Operation operation);
    // A text that a file transfer holds, by the layer's getter.
    HRESULT TransferText(ULONG handle, bool (CQuarnComm::*get)(DWORD, std::wstring&), BSTR* pText);
    // A text result of the layer's copy protocol (the BSTR's length counts the zero; an empty
    // value is a null BSTR).
    template <typename Read> HRESULT CopyResult(Read read, BSTR* pResult);
    // A copy of the text; the empty text is a null BSTR.
    static HRESULT TextResult(const std::wstring& text, BSTR* pResult);
    static const CQuarnTypeInfo& GetInterfaceInfo();

    LONG m_references;

    static CQuarnSrvCore* s_pCore;
    static LONG s_initializeCount;
};
