#include "CFile.h"

BOOL CFile::GetStatus(LPCSTR path, CFileStatus& status) {
    if (path == nullptr || *path == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return FALSE;
    status.m_size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    status.m_attribute = data.dwFileAttributes;
    status.m_ctime = data.ftCreationTime;
    status.m_mtime = data.ftLastWriteTime;
    status.m_atime = data.ftLastAccessTime;
    return TRUE;
}
