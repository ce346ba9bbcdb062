#include "CQuarnFileReceivePacket.h"

#include "CQuarnFileReceive.h"
#include "QuarnCodes.h"

#include <new>
#include <utility>

CQuarnFileReceivePacket* CQuarnFileReceivePacket::Make(const BYTE* header, CQuarnFileReceive& records, DWORD record,
                                                       CQuarnWatchWindow* watch,
                                                       std::function<void()> undelivered)
{
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return WithFile(new (std::nothrow) CQuarnFileReceivePacket(header, records, record, watch, std::move(undelivered)));
}

CQuarnFileReceivePacket::CQuarnFileReceivePacket(const BYTE* header, CQuarnFileReceive& records, DWORD record,
                                                 CQuarnWatchWindow* watch, std::function<void()> undelivered)
    : CQuarnFileWritePacket(header), m_records(records), m_record(record), m_pWatch(watch),
      m_undelivered(std::move(undelivered))
{
    m_progress.Start(GetTickCount());
}

DWORD CQuarnFileReceivePacket::Advance(DWORD count)
{
    DWORD remaining = CQuarnFileWritePacket::Advance(count);
    if (remaining != 0 && m_progress.Due(remaining, GetTickCount())) {
        DWORD error = GetLastError();
        CQuarnFileReceive* record = static_cast<CQuarnFileReceive*>(m_records.FindById(m_record));
        bool told = record != nullptr && record->Tell(m_pWatch, QUARN_STATUS_RECEIVE_PROGRESS + 100 - remaining);
        if (!told && m_undelivered)
            m_undelivered();
        SetLastError(error);
    }
    return remaining;
}
