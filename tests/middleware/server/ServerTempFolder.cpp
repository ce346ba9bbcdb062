#include "ServerTempFolder.h"

#include "FolderFiles.h"

namespace {

std::string variable(const char* name)
{
    char value[MAX_PATH + 1] = {};
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? std::string(value) : std::string();
}

} // namespace

ServerTempFolder::ServerTempFolder() : tmp_(variable("TMP")), temp_(variable("TEMP"))
{
    SetEnvironmentVariableA("TMP", dir_.path().c_str());
    SetEnvironmentVariableA("TEMP", dir_.path().c_str());
}

ServerTempFolder::~ServerTempFolder()
{
    SetEnvironmentVariableA("TMP", tmp_.empty() ? nullptr : tmp_.c_str());
    SetEnvironmentVariableA("TEMP", temp_.empty() ? nullptr : temp_.c_str());
}

std::vector<std::string> ServerTempFolder::quarnFiles() const
{
    return filesMatching(path() + "QUARN*.TMP");
}

std::vector<std::string> ServerTempFolder::allFiles() const
{
    return filesMatching(path() + "*");
}

void writeFileBytes(const std::wstring& file, const std::vector<unsigned char>& bytes)
{
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    size_t at = 0;
    while (handle != INVALID_HANDLE_VALUE && at < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - at, 1 << 20));
        if (!WriteFile(handle, bytes.data() + at, chunk, &written, nullptr) || written == 0)
            break;
        at += written;
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

std::vector<unsigned char> readFileBytes(const std::wstring& file)
{
    std::vector<unsigned char> bytes;
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return bytes;
    unsigned char buffer[65536];
    DWORD read = 0;
    while (ReadFile(handle, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    CloseHandle(handle);
    return bytes;
}

bool fileExists(const std::wstring& file)
{
    return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool makeSparseFile(const std::wstring& file, unsigned long long size)
{
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    bool made = SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
    CloseHandle(handle);
    return made;
}

std::vector<unsigned char> patternBytes(size_t size, unsigned seed)
{
    std::vector<unsigned char> bytes(size);
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<unsigned char>(state >> 16);
    }
    return bytes;
}
