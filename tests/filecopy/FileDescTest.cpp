// The identity of a file's content: path (any case), size and times, read once.
#include "CFileDesc.h"

#include "CHashTable.h"
#include "CJString.h"

#include "FileFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(FileDesc, ReadsSizeAndTimesInWholeSeconds)
{
    TempDir dir;
    std::string path = dir.file("a.bin");
    writeFile(path, "12345");
    setTimes(path, 0);
    CFileDesc desc(path);
    EXPECT_EQ(5, desc.getSize());
    EXPECT_EQ(5, desc.getLength());
    EXPECT_EQ(5, desc.hashCode());
    EXPECT_EQ(1715941230, desc.getModificationTime()); // 2024-05-17 10:20:30 UTC
    EXPECT_EQ(1715941230, desc.getCreationTime());
    EXPECT_TRUE(desc.isEquatable());

    CFileDesc missing(dir.file("none.bin"));
    EXPECT_EQ(0, missing.getSize());
    EXPECT_EQ(0, missing.getCreationTime());
    EXPECT_EQ(0, missing.getModificationTime());
    EXPECT_EQ(-1, missing.getLength());
}

TEST(FileDesc, IdentityIsPathWithoutCaseSizeAndTimes)
{
    TempDir dir;
    CreateDirectoryA(dir.file("other").c_str(), NULL);
    std::string a = dir.file("a.bin");
    std::string twin = dir.file("other\\a.bin");
    std::string longer = dir.file("long.bin");
    writeFile(a, "AAAA");
    writeFile(twin, "BBBB");
    writeFile(longer, "AAAAA");
    for (const std::string& path : {a, twin, longer})
        setTimes(path, 0);
    std::string upper = a;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));

    CFileDesc first(a);
    struct Case {
        const char* what;
        std::string path;
        int secondOffset;
        bool equal;
    };
    const Case cases[] = {
        {"the same file", a, 0, true},
        {"its path in capitals", upper, 0, true},
        {"another file of equal size and times", twin, 0, false},
        {"another size", longer, 0, false},
    };
    for (const Case& c : cases) {
        CFileDesc other(c.path);
        EXPECT_EQ(c.equal, first.equals(&other)) << c.what;
        EXPECT_EQ(c.equal, other.equals(&first)) << c.what;
    }
    setTimes(a, 3600);
    CFileDesc touched(a);
    EXPECT_FALSE(first.equals(&touched)) << "a new write time";
    CJString text("4");
    EXPECT_FALSE(first.equals(&text));
}

TEST(FileDesc, ALengthOfTwoGibibytesAndMoreStillFindsItsBucket)
{
    TempDir dir;
    std::string path = dir.file("big.bin");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    LARGE_INTEGER length;
    length.QuadPart = 0x80000010LL; // sparse on the host: nothing is written
    ASSERT_TRUE(SetFilePointerEx(file, length, NULL, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    CFileDesc* key = new CFileDesc(path);
    EXPECT_LT(key->hashCode(), 0);
    EXPECT_EQ(0x80000010LL, key->getLength());
    CHashTable table;
    CJString value("copy");
    table.put(key, &value);
    CFileDesc again(path);
    EXPECT_EQ(&value, table.get(&again));
    table.remove(key);
    delete key;
}

} // namespace
