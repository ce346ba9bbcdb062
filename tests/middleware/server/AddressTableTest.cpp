// This computer's addresses: where alives go, and what is published under "Computer
// Information\Network", from address tables that the tests give.
#include "CQuarnAddressTable.h"
#include "CQuarnDataBase.h"
#include "QuarnCodes.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <vector>

namespace {

typedef CQuarnAddressTable::Row Row;

DWORD ip(const char* dotted)
{
    in_addr address = {};
    inet_pton(AF_INET, dotted, &address);
    return address.s_addr;
}

std::string dotted(DWORD address)
{
    char text[16];
    const BYTE* octets = reinterpret_cast<const BYTE*>(&address);
    snprintf(text, sizeof(text), "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

Row row(const char* address, DWORD index, const char* mask)
{
    return {ip(address), index, ip(mask), 1};
}

// A table that the test changes between refreshes; it can also fail.
struct FakeTable {
    std::vector<Row> rows;
    bool readable = true;
    int reads = 0;

    CQuarnAddressTable::Source source()
    {
        return [this](std::vector<Row>& out) {
            ++reads;
            if (!readable) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return false;
            }
            out = rows;
            return true;
        };
    }
};

TEST(QuarnAddressTable, AlivesGoToLoopbackAndEachSubnetsBroadcastAddress)
{
    struct Case {
        const char* name;
        std::vector<Row> rows;
        std::vector<std::string> targets;
    } cases[] = {
        {"one adapter", {row("192.168.1.20", 3, "255.255.255.0")}, {"127.0.0.1", "192.168.1.255"}},
        {"no address, a single host, the loopback",
         {row("0.0.0.0", 4, "0.0.0.0"), row("10.0.0.5", 5, "255.255.255.255"), row("127.0.0.1", 1, "255.0.0.0")},
         {"127.0.0.1"}},
        {"two subnets", {row("10.1.2.3", 6, "255.0.0.0"), row("172.16.5.4", 7, "255.240.0.0")},
         {"127.0.0.1", "10.255.255.255", "172.31.255.255"}},
        {"no rows", {}, {"127.0.0.1"}},
    };
    for (const Case& c : cases) {
        CQuarnDataBase database;
        FakeTable table{c.rows};
        CQuarnAddressTable addresses(table.source());
        ASSERT_TRUE(addresses.Refresh(database)) << c.name;
        std::vector<std::string> targets;
        for (DWORD target : addresses.GetAliveTargets())
            targets.push_back(dotted(target));
        EXPECT_EQ(targets, c.targets) << c.name;
    }
}

class QuarnAddressTablePublishTest : public ::testing::Test {
protected:
    std::wstring ipOf(DWORD index)
    {
        wchar_t path[128];
        swprintf(path, 128, L"\\Computer Information\\Network\\%08lX\\IP Address", static_cast<unsigned long>(index));
        WCHAR value[32] = {};
        DWORD size = 32;
        if (!database_.GetValueString(path, value, &size))
            return L"(none)";
        return value;
    }

    DWORD counter(const wchar_t* path)
    {
        DWORD value = 0;
        EXPECT_TRUE(database_.GetUpdateCounter(path, &value)) << path;
        return value;
    }

    DWORD networkEntries()
    {
        DWORD count = 0;
        database_.GetChildCount(L"\\Computer Information\\Network", &count);
        return count;
    }

    CQuarnDataBase database_;
    FakeTable table_;
};

TEST_F(QuarnAddressTablePublishTest, EachRowIsPublishedUnderItsInterfaceIndex)
{
    table_.rows = {row("127.0.0.1", 1, "255.0.0.0"), row("198.18.0.2", 0x1A, "255.255.255.0")};
    CQuarnAddressTable addresses(table_.source());
    ASSERT_TRUE(addresses.Refresh(database_));
    EXPECT_EQ(ipOf(1), L"127.0.0.1");
    EXPECT_EQ(ipOf(0x1A), L"198.18.0.2");
    EXPECT_EQ(networkEntries(), 2u);
    // Held by no single application.
    CBase* entry = database_.FindEntry(L"\\Computer Information\\Network\\0000001A\\IP Address", QUARNTYPE_STRING);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->GetReferences().Contains(0xFFFFFFFF));
}

TEST_F(QuarnAddressTablePublishTest, AnUnchangedTableLeavesTheDirectoryUntouched)
{
    table_.rows = {row("198.18.0.2", 2, "255.255.255.0")};
    CQuarnAddressTable addresses(table_.source());
    ASSERT_TRUE(addresses.Refresh(database_));
    DWORD root = counter(L"\\");
    DWORD network = counter(L"\\Computer Information\\Network");
    for (int tick = 0; tick < 5; ++tick)
        ASSERT_TRUE(addresses.Refresh(database_));
    EXPECT_EQ(table_.reads, 6);
    EXPECT_EQ(counter(L"\\"), root);
    EXPECT_EQ(counter(L"\\Computer Information\\Network"), network);
    EXPECT_EQ(ipOf(2), L"198.18.0.2");
}

TEST_F(QuarnAddressTablePublishTest, AChangedTableRewritesTheWholeDirectory)
{
    table_.rows = {row("198.18.0.2", 2, "255.255.255.0"), row("10.0.0.7", 3, "255.0.0.0")};
    CQuarnAddressTable addresses(table_.source());
    ASSERT_TRUE(addresses.Refresh(database_));
    DWORD root = counter(L"\\");
    // An adapter added, another gone, one moved to a new address.
    table_.rows = {row("198.18.0.9", 2, "255.255.255.0"), row("172.16.0.1", 4, "255.255.0.0")};
    ASSERT_TRUE(addresses.Refresh(database_));
    EXPECT_GT(counter(L"\\"), root);
    EXPECT_EQ(ipOf(2), L"198.18.0.9");
    EXPECT_EQ(ipOf(3), L"(none)");
    EXPECT_EQ(ipOf(4), L"172.16.0.1");
    EXPECT_EQ(networkEntries(), 2u);
    // A mask of its own is a change too.
    table_.rows[1].mask = ip("255.255.255.0");
    DWORD before = counter(L"\\");
    ASSERT_TRUE(addresses.Refresh(database_));
    EXPECT_GT(counter(L"\\"), before);
}

TEST_F(QuarnAddressTablePublishTest, AnUnreadableTableKeepsWhatWasPublished)
{
    table_.rows = {row("198.18.0.2", 2, "255.255.255.0")};
    CQuarnAddressTable addresses(table_.source());
    ASSERT_TRUE(addresses.Refresh(database_));
    DWORD root = counter(L"\\");
    table_.readable = false;
    EXPECT_FALSE(addresses.Refresh(database_));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(counter(L"\\"), root);
    EXPECT_EQ(ipOf(2), L"198.18.0.2");
    ASSERT_EQ(addresses.GetAliveTargets().size(), 2u);
    // No rows at all empties the directory.
    table_.readable = true;
    table_.rows.clear();
    ASSERT_TRUE(addresses.Refresh(database_));
    EXPECT_EQ(database_.FindEntry(L"\\Computer Information\\Network", QUARNTYPE_DIR), nullptr);
}

TEST(QuarnAddressTable, TheSystemTableIsReadable)
{
    std::vector<Row> rows;
    ASSERT_TRUE(CQuarnAddressTable::ReadSystemTable(rows)) << GetLastError();
    bool loopback = false;
    for (const Row& r : rows)
        loopback = loopback || r.address == ip("127.0.0.1");
    EXPECT_TRUE(loopback);
}

} // namespace
