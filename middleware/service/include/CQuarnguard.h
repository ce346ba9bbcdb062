#pragma once
// The service's server object: the middleware's 38 methods, run by the server object that the
// module shares (with the process's build, the service's), and the methods for clients that
// have no window: the notification queue, window numbers and client slots. Each of these
// checks that the server is up and holds its method lock for the call, like the 38.
#include "CQuarnSrv.h"
#include "quarnguard.h"

#include <windows.h>

class CQuarnServiceBuild;

class CQuarnguard : public IQuarnguard {
public:
    // What the not-implemented methods answer.
    static constexpr HRESULT E_QUARN_NOT_IMPLEMENTED = static_cast<HRESULT>(0x80070078);

    explicit CQuarnguard(CQuarnServiceBuild& build);
    // Frees the client slots this object took.
    virtual ~CQuarnguard();
    CQuarnguard(const CQuarnguard&) = delete;
    CQuarnguard& operator=(const CQuarnguard&) = delete;

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

    // The middleware's methods
    STDMETHODIMP Initialize() override { return m_server.Initialize(); }
    STDMETHODIMP Uninitialize() override { return m_server.Uninitialize(); }
    // A window that exists when it is registered becomes the notice window of this client's
    // slots, which go when it is gone.
    STDMETHODIMP RegisterWnd(ULONG hWnd) override;
    STDMETHODIMP DeregisterWnd(ULONG hWnd) override;
    STDMETHODIMP APDOpenEntry(ULONG ulAppID, BSTR strEntry, ULONG ulType) override { return m_server.APDOpenEntry(ulAppID, strEntry, ulType); }
    STDMETHODIMP APDCloseEntry(ULONG ulAppID, BSTR strEntry) override { return m_server.APDCloseEntry(ulAppID, strEntry); }
    STDMETHODIMP APDWatchWndChange(ULONG dwAppID, ULONG dwHwnd) override { return m_server.APDWatchWndChange(dwAppID, dwHwnd); }
    STDMETHODIMP APDChangeEntryValueInt(ULONG ulAppID, BSTR strEntry, LONG ulValue) override { return m_server.APDChangeEntryValueInt(ulAppID, strEntry, ulValue); }
    STDMETHODIMP APDChangeEntryValueString(ULONG ulAppID, BSTR strEntry, BSTR strValue) override { return m_server.APDChangeEntryValueString(ulAppID, strEntry, strValue); }
    STDMETHODIMP LUDOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir) override { return m_server.LUDOpen(strEntry, ulHWnd, ulLUDir); }
    STDMETHODIMP LUDClose(ULONG ulLUDir) override { return m_server.LUDClose(ulLUDir); }
    STDMETHODIMP LUDGetEntryCount(ULONG ulLUDir, ULONG* pulCount) override { return m_server.LUDGetEntryCount(ulLUDir, pulCount); }
    STDMETHODIMP LUDGetEntryName(ULONG ulLUDir, ULONG ulIndex, BSTR* strEntry) override { return m_server.LUDGetEntryName(ulLUDir, ulIndex, strEntry); }
    STDMETHODIMP LUDGetEntryType(ULONG ulLUDir, ULONG ulIndex, ULONG* pulType) override { return m_server.LUDGetEntryType(ulLUDir, ulIndex, pulType); }
    STDMETHODIMP LUDRefresh(ULONG ulLUDir) override { return m_server.LUDRefresh(ulLUDir); }
    STDMETHODIMP LUDGetEntryValueInt(ULONG ulLUDir, ULONG ulIndex, LONG* plValue) override { return m_server.LUDGetEntryValueInt(ulLUDir, ulIndex, plValue); }
    STDMETHODIMP LUDGetEntryValueString(ULONG ulLUDir, ULONG ulIndex, BSTR* pstrValue) override { return m_server.LUDGetEntryValueString(ulLUDir, ulIndex, pstrValue); }
    STDMETHODIMP GetGUIDString(BSTR* pstrEntry) override { return m_server.GetGUIDString(pstrEntry); }
    STDMETHODIMP GetNewAppID(ULONG* ulAppID) override { return m_server.GetNewAppID(ulAppID); }
    STDMETHODIMP APDCloseAllEntry(ULONG ulAppID, BSTR strEntry) override { return m_server.APDCloseAllEntry(ulAppID, strEntry); }
    STDMETHODIMP DBLock() override { return m_server.DBLock(); }
    STDMETHODIMP DBUnlock() override { return m_server.DBUnlock(); }
    STDMETHODIMP LUDGetEntryValueBinary(ULONG ulLUDir, ULONG ulIndex, VARIANT* pvarValue) override { return m_server.LUDGetEntryValueBinary(ulLUDir, ulIndex, pvarValue); }
    STDMETHODIMP APDChangeEntryValueBinary(ULONG ulAppID, BSTR strEntry, VARIANT varValue) override { return m_server.APDChangeEntryValueBinary(ulAppID, strEntry, varValue); }
    STDMETHODIMP DBIsLocked(LONG* pbResult) override { return m_server.DBIsLocked(pbResult); }
    STDMETHODIMP FileTransferOpen(BSTR bstrDstDir, BSTR bstrSrcDir, BSTR bstrNickname, ULONG dwHwnd, ULONG* dwHandle) override { return m_server.FileTransferOpen(bstrDstDir, bstrSrcDir, bstrNickname, dwHwnd, dwHandle); }
    STDMETHODIMP FileTransferClose(ULONG dwHandle) override { return m_server.FileTransferClose(dwHandle); }
    STDMETHODIMP FileTransferExec(ULONG dwHandle) override { return m_server.FileTransferExec(dwHandle); }
    STDMETHODIMP FileTransferGetTempName(ULONG dwHandle, BSTR* strEntry) override { return m_server.FileTransferGetTempName(dwHandle, strEntry); }
    STDMETHODIMP APDWatchWndAdd(ULONG dwAppID, ULONG dwHwnd, BSTR bstrDir) override { return m_server.APDWatchWndAdd(dwAppID, dwHwnd, bstrDir); }
    STDMETHODIMP APDWatchWndDel(ULONG dwAppID) override { return m_server.APDWatchWndDel(dwAppID); }
    STDMETHODIMP FileTransferGetNickname(ULONG dwHandle, BSTR* pbstrNickname) override { return m_server.FileTransferGetNickname(dwHandle, pbstrNickname); }
    STDMETHODIMP FileTransferGetSenderName(ULONG dwHandle, BSTR* pbstrSenderName) override { return m_server.FileTransferGetSenderName(dwHandle, pbstrSenderName); }
    STDMETHODIMP GetIP(BSTR strDir, BSTR* pstrIP) override { return m_server.GetIP(strDir, pstrIP); }
    STDMETHODIMP ProfSelectProfile(ULONG ulAppInstanceID, BSTR strDir, ULONG ulID, LONG* pbResult) override { return m_server.ProfSelectProfile(ulAppInstanceID, strDir, ulID, pbResult); }
    STDMETHODIMP GetServerVersion(ULONG* pulVer) override { return m_server.GetServerVersion(pulVer); }
    STDMETHODIMP ProfClearProfile(ULONG ulAppInstanceID, BSTR strDir, LONG* pbResult) override { return m_server.ProfClearProfile(ulAppInstanceID, strDir, pbResult); }
    STDMETHODIMP LUProfileDirOpen(BSTR strEntry, ULONG ulHWnd, ULONG* ulLUDir) override { return m_server.LUProfileDirOpen(strEntry, ulHWnd, ulLUDir); }

    // The service's own
    STDMETHODIMP FileTransferAbort(ULONG dwHandle) override;
    STDMETHODIMP MsgIsExist(LONG* pbResult) override;
    STDMETHODIMP MsgRemove(ULONG ulIndex) override;
    STDMETHODIMP MsgGetMsgNo(ULONG ulIndex, ULONG* pulMsgNo) override;
    STDMETHODIMP MsgGetHwnd(ULONG ulIndex, ULONG* pulHwnd) override;
    STDMETHODIMP MsgGetLParam(ULONG ulIndex, ULONG* pulLParam) override;
    STDMETHODIMP MsgGetWParam(ULONG ulIndex, ULONG* pulWParam) override;
    STDMETHODIMP MsgGetCount(ULONG* pulCount) override;
    STDMETHODIMP GetNewWndID(ULONG* pulWndID) override;
    STDMETHODIMP MsgLock(LONG* pbResult) override;
    STDMETHODIMP MsgUnlock(LONG* pbResult) override;
    STDMETHODIMP GetNextQuarnhost(ULONG* pulSlot) override;
    STDMETHODIMP GetQuarnhostID(ULONG* pulSlot) override;
    STDMETHODIMP SetNextQuarnhostID(LONG* pbResult) override;
    STDMETHODIMP DelQuarnhostID(ULONG ulSlot, LONG* pbResult) override;

private:
    // The frame: the server checked and locked, the operation's HRESULT, the lock released.
    template <typename Operation> HRESULT Call(Operation operation);
    // A number of the queue or the slots as the result.
    template <typename Operation> HRESULT CallForNumber(ULONG* pResult, Operation operation);
    HRESULT QueueField(ULONG index, int field, ULONG* pResult);
    static const CQuarnTypeInfo& GetInterfaceInfo();

    LONG m_references;
    CQuarnServiceBuild& m_build;
    // Runs the 38 shared methods; not counted as a COM object of its own.
    CQuarnSrv m_server;
    // The client's notice window that its slots keep; null while it registered none that exists.
    HWND m_noticeWindow = nullptr;
};
