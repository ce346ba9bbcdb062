#include "CQuarnFileReceivePacket.h"

#include "CQuarnFileReceive.h"
#include "QuarnCodes.h"

#include <new>

CQuarnFileReceivePacket* CQuarnFileReceivePacket::Make(const BYTE* header, CQuarnFileReceive& records, DWORD record,
                                                       CQuarnWatchWindow* watch)
{
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return WithFile(new (std::nothrow) CQuarnFileReceivePacket(header, records, record, watch));
}

CQuarnFileReceivePacket::CQuarnFileReceivePacket(const BYTE* header, CQuarnFileReceive& records, DWORD record,
                                                 CQuarnWatchWindow* watch)
    : CQuarnFileWritePacket(header), m_records(records), m_record(record), m_pWatch(watch)
{
    m_progress.Start(GetTickCount());
}

DWORD CQuarnFileReceivePacket::Advance(DWORD count)
{
    DWORD remaining = CQuarnFileWritePacket::Advance(count);
    if (remaining != 0 && m_progress.Due(remaining, GetTickCount())) {
        DWORD error = GetLastError();
        if (CQuarnFileReceive* record = static_cast<CQuarnFileReceive*>(m_records.FindById(m_record)))
            record->Tell(m_pWatch, QUARN_STATUS_RECEIVE_PROGRESS + 100 - remaining);
        SetLastError(error);
    }
    return remaining;
}
