#pragma once
// This computer's IPv4 addresses as last published: the rows of the system's address table
// that were written under "Computer Information\Network" of the local directory, and the
// addresses that alive packets go to. The table is read through a source that tests replace.
#include <windows.h>

#include <functional>
#include <vector>

class CQuarnDataBase;

class CQuarnAddressTable {
public:
    // One row of the system's table; address and mask in network order, as the system gives
    // them.
    struct Row {
        DWORD address;
        DWORD index;
        DWORD mask;
        DWORD broadcast;

        bool operator==(const Row& other) const
        {
            return address == other.address && index == other.index && mask == other.mask
                && broadcast == other.broadcast;
        }
    };
    // Fills the rows; false (with the thread's last error) when the table cannot be read.
    using Source = std::function<bool(std::vector<Row>& rows)>;

    // The system's table (GetIpAddrTable, unsorted).
    static bool ReadSystemTable(std::vector<Row>& rows);

    explicit CQuarnAddressTable(Source source = ReadSystemTable);

    // Reads the table; when it differs from the saved one, rewrites the "Network" directory
    // under "Computer Information" (under the database lock) and saves it, also when a write
    // failed. An unchanged table touches nothing. False when the table cannot be read (the
    // saved one stays) or a write failed.
    bool Refresh(CQuarnDataBase& database);
    // Where alive packets go: 127.0.0.1 first, then the broadcast address (address OR NOT mask)
    // of every saved row that is not 0.0.0.0, not a single host (mask 255.255.255.255) and not
    // 127.0.0.1. Network order.
    std::vector<DWORD> GetAliveTargets() const;
    // Forgets the saved table; the next refresh writes again.
    void Clear();

    const std::vector<Row>& GetRows() const { return m_rows; }
    bool IsSaved() const { return m_saved; }

private:
    // Writes the rows' entries after removing the old "Network" directory; stops at the first
    // failing write.
    static bool Publish(CQuarnDataBase& database, const std::vector<Row>& rows);

    Source m_source;
    std::vector<Row> m_rows;
    bool m_saved = false;
};
