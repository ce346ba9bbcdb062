#include "CQuarnAddressTable.h"

#include "CQuarnDataBase.h"
#include "QuarnCodes.h"
#include "QuarnTrace.h"

#include <winsock2.h>
#include <iphlpapi.h>

#include <cwchar>

namespace {

const WCHAR COMPUTER_INFORMATION[] = L"Computer Information";
const WCHAR NETWORK[] = L"Network";
const WCHAR IP_ADDRESS[] = L"IP Address";
// Entries that the layer writes belong to no single application.
const DWORD LAYER_REFERENCE = 0xFFFFFFFF;
const DWORD LOOPBACK = 0x0100007F; // 127.0.0.1 in network order

} // namespace

bool CQuarnAddressTable::ReadSystemTable(std::vector<Row>& rows)
{
    ULONG size = 0;
    DWORD result = GetIpAddrTable(nullptr, &size, FALSE);
    if (result != ERROR_INSUFFICIENT_BUFFER) {
        SetLastError(result == NO_ERROR ? ERROR_INVALID_DATA : result);
        return false;
    }
    std::vector<BYTE> buffer;
    // The table may grow between the two calls; a few tries with the size it then asks for.
    for (int attempt = 0; attempt < 3; ++attempt) {
        buffer.resize(size);
        result = GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data()), &size, FALSE);
        if (result != ERROR_INSUFFICIENT_BUFFER)
            break;
    }
    if (result != NO_ERROR) {
        SetLastError(result);
        return false;
    }
    const MIB_IPADDRTABLE* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
    rows.clear();
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPADDRROW& row = table->table[i];
        rows.push_back({row.dwAddr, row.dwIndex, row.dwMask, row.dwBCastAddr});
    }
    return true;
}

CQuarnAddressTable::CQuarnAddressTable(Source source) : m_source(std::move(source)) {}

bool CQuarnAddressTable::Refresh(CQuarnDataBase& database)
{
    std::vector<Row> rows;
    if (!m_source || !m_source(rows)) {
        QuarnTrace("CQuarnAddressTable::Refresh(): the address table cannot be read, error %lu\n", GetLastError());
        return false;
    }
    if (m_saved && rows == m_rows)
        return true;
    if (!database.Lock(INFINITE))
        return false;
    bool written = Publish(database, rows);
    DWORD error = GetLastError();
    database.Unlock();
    m_rows.swap(rows);
    m_saved = true;
    SetLastError(written ? 0 : error);
    return written;
}

std::vector<DWORD> CQuarnAddressTable::GetAliveTargets() const
{
    std::vector<DWORD> targets{LOOPBACK};
    for (const Row& row : m_rows) {
        if (row.address == 0 || row.mask == 0xFFFFFFFF || row.address == LOOPBACK)
            continue;
        targets.push_back(row.address | ~row.mask);
    }
    return targets;
}

void CQuarnAddressTable::Clear()
{
    m_rows.clear();
    m_saved = false;
}

bool CQuarnAddressTable::Publish(CQuarnDataBase& database, const std::vector<Row>& rows)
{
    WCHAR path[MAX_PATH];
    swprintf(path, MAX_PATH, L"\\%ls\\%ls", COMPUTER_INFORMATION, NETWORK);
    if (CBase* network = database.FindEntry(path, QUARNTYPE_DIR)) {
        network->GetParent()->UnlinkChild(network);
        delete network;
        database.Touch(path);
    }
    for (const Row& row : rows) {
        swprintf(path, MAX_PATH, L"\\%ls\\%ls\\%08lX\\%ls", COMPUTER_INFORMATION, NETWORK,
                 static_cast<unsigned long>(row.index), IP_ADDRESS);
        const BYTE* octets = reinterpret_cast<const BYTE*>(&row.address);
        WCHAR text[16];
        swprintf(text, 16, L"%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
        if (!database.SetValueString(LAYER_REFERENCE, path, text))
            return false;
    }
    return true;
}
