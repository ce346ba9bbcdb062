#include "CQuarnQueueLock.h"

#include "CQuarnSrv.h"
#include "QuarnTrace.h"

#include <sddl.h>

namespace {

// SYSTEM and Administrators: all; interactive users: SYNCHRONIZE | MUTEX_MODIFY_STATE.
const WCHAR MUTEX_SDDL[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x100001;;;IU)";

HRESULT failure(DWORD error)
{
    SetLastError(error);
    return CQuarnSrv::HResultFromLastError();
}

} // namespace

CQuarnQueueLock::CQuarnQueueLock() : m_hMutex(nullptr), m_count(0)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(MUTEX_SDDL, SDDL_REVISION_1, &descriptor, nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    else
        QuarnTrace("CQuarnQueueLock: no descriptor, error %lu\n", GetLastError());
    // Without its descriptor the mutex gets the process's default, never a null access list.
    m_hMutex = CreateMutexA(&attributes, FALSE, MUTEX_NAME);
    if (m_hMutex == nullptr)
        QuarnTrace("CQuarnQueueLock: no mutex, error %lu\n", GetLastError());
    if (descriptor)
        LocalFree(descriptor);
}

CQuarnQueueLock::~CQuarnQueueLock()
{
    while (m_count > 0 && ReleaseMutex(m_hMutex))
        --m_count;
    if (m_hMutex)
        CloseHandle(m_hMutex);
}

HRESULT CQuarnQueueLock::Lock(LONG* pLocked)
{
    if (pLocked)
        *pLocked = 0;
    if (!m_hMutex)
        return failure(ERROR_INVALID_HANDLE);
    // Held already: no wait and no error; the output 0 tells that nothing was taken.
    if (m_count != 0)
        return S_OK;
    DWORD waited = WaitForSingleObject(m_hMutex, WAIT_MS);
    if (waited == WAIT_TIMEOUT)
        return failure(ERROR_TIMEOUT);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
        return failure(GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE);
    ++m_count;
    if (pLocked)
        *pLocked = 1;
    return S_QUARN_LOCKED;
}

HRESULT CQuarnQueueLock::Unlock(LONG* pLocked)
{
    if (pLocked)
        *pLocked = 0;
    if (!m_hMutex)
        return failure(ERROR_INVALID_HANDLE);
    if (!ReleaseMutex(m_hMutex))
        return CQuarnSrv::HResultFromLastError();
    if (m_count > 0)
        --m_count;
    if (pLocked)
        *pLocked = 1;
    return S_OK;
}
