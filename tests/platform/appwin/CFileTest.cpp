// A path's status: its whole size, its attribute bits and its times.
#include "CFile.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

ULONGLONG ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// A file of the given size, its last write set to a known time.
bool makeFile(const std::string& path, ULONGLONG size, const FILETIME& written) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    bool made = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file)
                && SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return made;
}

TEST(CFile, StatusOfAFileGivesItsSizeBeyondFourGibibytesAndItsTimes) {
    TempDir dir;
    // 2021-01-01 00:00:00 UTC.
    FILETIME written{0x0C358000u, 0x01D6DFD1u};
    const ULONGLONG sizes[] = {0, 1, 4096, (5ull << 30) + 3};
    for (ULONGLONG size : sizes) {
        std::string path = dir.file("f" + std::to_string(size) + ".bin");
        ASSERT_TRUE(makeFile(path, size, written)) << size;
        CFileStatus status;
        ASSERT_TRUE(CFile::GetStatus(path.c_str(), status)) << size;
        EXPECT_EQ(size, status.m_size);
        EXPECT_EQ(0u, status.m_attribute & FILE_ATTRIBUTE_DIRECTORY);
        EXPECT_EQ(ticks(written), ticks(status.m_mtime));
        EXPECT_NE(0u, ticks(status.m_ctime));
        EXPECT_NE(0u, ticks(status.m_atime));
        DeleteFileA(path.c_str());
    }
}

TEST(CFile, StatusOfAFolderCarriesTheDirectoryBit) {
    TempDir dir;
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(dir.path().c_str(), status));
    EXPECT_NE(0u, status.m_attribute & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CFile, ReadOnlyBitIsReported) {
    TempDir dir;
    std::string path = dir.file("ro.txt");
    ASSERT_TRUE(makeFile(path, 3, FILETIME{1, 1}));
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    CFileStatus status;
    ASSERT_TRUE(CFile::GetStatus(path.c_str(), status));
    EXPECT_NE(0u, status.m_attribute & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CFile, MissingOrEmptyPathGivesFalseAndLeavesTheStatus) {
    TempDir dir;
    const std::string paths[] = {dir.file("missing.bin"), dir.file("no\\such\\folder\\x"), ""};
    for (const std::string& path : paths) {
        CFileStatus status;
        status.m_size = 77;
        status.m_attribute = 5;
        EXPECT_FALSE(CFile::GetStatus(path.c_str(), status)) << path;
        EXPECT_EQ(77u, status.m_size);
        EXPECT_EQ(5u, status.m_attribute);
    }
    CFileStatus status;
    EXPECT_FALSE(CFile::GetStatus(nullptr, status));
}

}  // namespace
