#pragma once
// Files of the class library: what the file system tells about a path.
#include <windows.h>

// A path's status: sizes beyond 4 GiB whole, the attribute bits of the file system, and the
// three times in UTC as the file system keeps them.
struct CFileStatus {
    ULONGLONG m_size = 0;
    DWORD m_attribute = 0;
    FILETIME m_ctime{};   // created
    FILETIME m_mtime{};   // last written
    FILETIME m_atime{};   // last accessed
};

class CFile {
public:
    // The status of a file or folder; FALSE (status unchanged, GetLastError tells why) when
    // the path is empty or cannot be read.
    static BOOL GetStatus(LPCSTR path, CFileStatus& status);
};
