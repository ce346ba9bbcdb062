#include "QuarnTempFile.h"

#include "CQuarnServerBuild.h"
#include "CQuarnSrvCore.h"

#include <cstdio>
#include <new>

namespace {

// Another process may be making or removing a file of that name: try the next number.
bool nameTaken(DWORD error, const char* path)
{
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS || error == ERROR_SHARING_VIOLATION)
        return true;
    // A file being deleted answers access denied; a folder that refuses us answers the same,
    // and then no number helps.
    return error == ERROR_ACCESS_DENIED && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool MakeQuarnTempFileIn(const std::string& folder, DWORD first, std::wstring& name)
{
    for (DWORD tried = 0; tried < QUARN_TEMP_FILE_TRIES; ++tried) {
        DWORD number = (first + 0xFFFE + tried) % 0xFFFF + 1;
        char file[16];
        std::snprintf(file, sizeof(file), "QUARN%04lX.TMP", static_cast<unsigned long>(number));
        std::string path;
        try {
            path = folder + file;
        } catch (const std::bad_alloc&) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        HANDLE made = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (made == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (nameTaken(error, path.c_str()))
                continue;
            SetLastError(error);
            return false;
        }
        CloseHandle(made);
        int characters = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
        bool named = false;
        if (characters > 0) {
            try {
                std::wstring wide(static_cast<size_t>(characters), L'\0');
                named = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], characters) == characters;
                wide.resize(static_cast<size_t>(characters - 1));
                name.swap(wide);
            } catch (const std::bad_alloc&) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            }
        }
        if (!named) {
            DWORD error = GetLastError();
            DeleteFileA(path.c_str());
            SetLastError(error != 0 ? error : ERROR_INVALID_NAME);
            return false;
        }
        return true;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return false;
}

bool MakeQuarnTempFile(std::wstring& name)
{
    static volatile LONG s_made = 0;
    CQuarnServerBuild& build = CQuarnServerBuild::Current();
    std::string folder;
    if (!build.GetTempFolder(folder))
        return false;
    // Files made in one tick start apart.
    if (!MakeQuarnTempFileIn(folder, GetTickCount() + static_cast<DWORD>(InterlockedIncrement(&s_made)), name))
        return false;
    if (!build.SecureTempFile(name)) {
        DWORD error = GetLastError();
        DeleteFileW(name.c_str());
        SetLastError(error != 0 ? error : ERROR_ACCESS_DENIED);
        return false;
    }
    return true;
}
