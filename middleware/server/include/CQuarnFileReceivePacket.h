#pragma once
// The file packet of a transfer's contents (type 0x8022) on a server connection: a
// CQuarnFileWritePacket that also tells the receiving application how far it got, through the
// connection's receive record: 0x20040100 plus the percentage received, when it grew, at most
// once per 100 ms.
#include "CQuarnFileWritePacket.h"
#include "CQuarnProgress.h"

#include <functional>

class CQuarnFileReceive;
class CQuarnWatchWindow;

class CQuarnFileReceivePacket : public CQuarnFileWritePacket {
public:
    // The packet for the header, bound to the receive record of that number in records; the
    // notices go out through the watch records, and a notice that reaches no window (or finds
    // no record) runs undelivered. Null with the file system's error.
    static CQuarnFileReceivePacket* Make(const BYTE* header, CQuarnFileReceive& records, DWORD record,
                                         CQuarnWatchWindow* watch, std::function<void()> undelivered = nullptr);

    DWORD Advance(DWORD count) override;

    DWORD GetRecord() const { return m_record; }

private:
    CQuarnFileReceivePacket(const BYTE* header, CQuarnFileReceive& records, DWORD record, CQuarnWatchWindow* watch,
                            std::function<void()> undelivered);

    CQuarnFileReceive& m_records;
    DWORD m_record;
    CQuarnWatchWindow* m_pWatch;
    CQuarnProgress m_progress;
    std::function<void()> m_undelivered;
};
