#include "CQuarnguard.h"

#include "CQuarnQueueLock.h"
#include "CQuarnServiceBuild.h"
#include "CQuarnTypeInfo.h"

namespace {

void clear(LONG* pResult)
{
    if (pResult)
        *pResult = 0;
}

} // namespace

CQuarnguard::CQuarnguard(CQuarnServiceBuild& build) : m_references(1), m_build(build) {}

// COM releases a client's objects when the client lets go of them, and with them its slots;
// a client that ended without doing so may leave its objects behind (see RegisterWnd).
CQuarnguard::~CQuarnguard()
{
    m_build.GetSlots().FreeOwnedBy(this);
}

template <typename Operation> HRESULT CQuarnguard::Call(Operation operation)
{
    HRESULT result = CQuarnSrv::CheckInitialized();
    if (FAILED(result))
        return result;
    result = operation();
    CQuarnSrv::ReleaseLock();
    return result;
}

template <typename Operation> HRESULT CQuarnguard::CallForNumber(ULONG* pResult, Operation operation)
{
    return Call([&] {
        if (!pResult)
            return E_POINTER;
        *pResult = operation();
        return S_OK;
    });
}

// The shared methods that the slots watch

STDMETHODIMP CQuarnguard::RegisterWnd(ULONG hWnd)
{
    HRESULT result = m_server.RegisterWnd(hWnd);
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(hWnd));
    // A window number has no window behind it, and a window this process cannot see cannot be
    // watched: neither is kept.
    if (SUCCEEDED(result) && IsWindow(window)) {
        Call([&] {
            m_noticeWindow = window;
            m_build.GetSlots().SetWindowOf(this, window);
            return S_OK;
        });
    }
    return result;
}

STDMETHODIMP CQuarnguard::DeregisterWnd(ULONG hWnd)
{
    HRESULT result = m_server.DeregisterWnd(hWnd);
    HWND window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(hWnd));
    // A client that lets its window go keeps its slots.
    if (SUCCEEDED(result) && window == m_noticeWindow) {
        Call([&] {
            m_noticeWindow = nullptr;
            m_build.GetSlots().SetWindowOf(this, nullptr);
            return S_OK;
        });
    }
    return result;
}

// IUnknown

STDMETHODIMP CQuarnguard::QueryInterface(REFIID iid, void** ppObject)
{
    if (!ppObject)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, IID_IQuarnguard)) {
        *ppObject = static_cast<IQuarnguard*>(this);
        AddRef();
        return S_OK;
    }
    *ppObject = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CQuarnguard::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

STDMETHODIMP_(ULONG) CQuarnguard::Release()
{
    LONG references = InterlockedDecrement(&m_references);
    if (references == 0)
        delete this;
    return static_cast<ULONG>(references);
}

// IDispatch

const CQuarnTypeInfo& CQuarnguard::GetInterfaceInfo()
{
    // Loaded on first use and kept for the process.
    static const CQuarnTypeInfo info(IID_IQuarnguard);
    return info;
}

STDMETHODIMP CQuarnguard::GetTypeInfoCount(UINT* pCount)
{
    return GetInterfaceInfo().GetTypeInfoCount(pCount);
}

STDMETHODIMP CQuarnguard::GetTypeInfo(UINT index, LCID, ITypeInfo** ppInfo)
{
    return GetInterfaceInfo().GetTypeInfo(index, ppInfo);
}

STDMETHODIMP CQuarnguard::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return GetInterfaceInfo().GetIDsOfNames(iid, names, count, ids);
}

STDMETHODIMP CQuarnguard::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argumentError)
{
    return GetInterfaceInfo().Invoke(static_cast<IQuarnguard*>(this), id, iid, flags, params, result, exception,
                                     argumentError);
}

// The service's own methods

STDMETHODIMP CQuarnguard::FileTransferAbort(ULONG)
{
    return E_QUARN_NOT_IMPLEMENTED;
}

STDMETHODIMP CQuarnguard::MsgIsExist(LONG* pbResult)
{
    clear(pbResult);
    return Call([&] {
        if (!pbResult)
            return E_POINTER;
        *pbResult = m_build.GetQueue().GetCount() != 0 ? 1 : 0;
        return S_OK;
    });
}

STDMETHODIMP CQuarnguard::MsgRemove(ULONG ulIndex)
{
    return Call([&] {
        m_build.GetQueue().Remove(ulIndex);
        return S_OK;
    });
}

HRESULT CQuarnguard::QueueField(ULONG index, int field, ULONG* pResult)
{
    return CallForNumber(pResult, [&] {
        return m_build.GetQueue().Get(index, static_cast<CQuarnNoticeQueue::Field>(field));
    });
}

STDMETHODIMP CQuarnguard::MsgGetMsgNo(ULONG ulIndex, ULONG* pulMsgNo)
{
    return QueueField(ulIndex, static_cast<int>(CQuarnNoticeQueue::Field::Code), pulMsgNo);
}

STDMETHODIMP CQuarnguard::MsgGetHwnd(ULONG ulIndex, ULONG* pulHwnd)
{
    return QueueField(ulIndex, static_cast<int>(CQuarnNoticeQueue::Field::Window), pulHwnd);
}

STDMETHODIMP CQuarnguard::MsgGetLParam(ULONG ulIndex, ULONG* pulLParam)
{
    return QueueField(ulIndex, static_cast<int>(CQuarnNoticeQueue::Field::LParam), pulLParam);
}

STDMETHODIMP CQuarnguard::MsgGetWParam(ULONG ulIndex, ULONG* pulWParam)
{
    return QueueField(ulIndex, static_cast<int>(CQuarnNoticeQueue::Field::WParam), pulWParam);
}

STDMETHODIMP CQuarnguard::MsgGetCount(ULONG* pulCount)
{
    return CallForNumber(pulCount, [&] { return m_build.GetQueue().GetCount(); });
}

STDMETHODIMP CQuarnguard::GetNewWndID(ULONG* pulWndID)
{
    return CallForNumber(pulWndID, [&] { return m_build.GetNewWindowNumber(); });
}

STDMETHODIMP CQuarnguard::MsgLock(LONG* pbResult)
{
    clear(pbResult);
    return Call([&] { return m_build.GetQueueLock().Lock(pbResult); });
}

STDMETHODIMP CQuarnguard::MsgUnlock(LONG* pbResult)
{
    clear(pbResult);
    return Call([&] { return m_build.GetQueueLock().Unlock(pbResult); });
}

STDMETHODIMP CQuarnguard::GetNextQuarnhost(ULONG* pulSlot)
{
    return CallForNumber(pulSlot, [&] { return m_build.GetSlots().Next(); });
}

STDMETHODIMP CQuarnguard::GetQuarnhostID(ULONG* pulSlot)
{
    return CallForNumber(pulSlot, [&] { return m_build.GetSlots().Take(this, m_noticeWindow); });
}

STDMETHODIMP CQuarnguard::SetNextQuarnhostID(LONG* pbResult)
{
    return Call([&] {
        if (!pbResult)
            return E_POINTER;
        *pbResult = m_build.GetSlots().PassTurn() ? 1 : 0;
        return S_OK;
    });
}

STDMETHODIMP CQuarnguard::DelQuarnhostID(ULONG ulSlot, LONG* pbResult)
{
    return Call([&] {
        if (!pbResult)
            return E_POINTER;
        *pbResult = m_build.GetSlots().Free(ulSlot) ? 1 : 0;
        return S_OK;
    });
}
