#pragma once
// The temporary files of file transfers: made by the server alone, in its temporary folder,
// named "QUARN", four hexadecimal digits and ".TMP". The platform's own temporary names keep
// only three letters of a prefix, and the core removes stale files by the whole pattern
// "QUARN*.TMP" when it starts; so the name is made here, the platform's way (a number from
// the tick count, counted on while a file of that name exists), and the file is created empty
// and closed. Nothing a peer sends ever goes into such a name.
#include <windows.h>

#include <string>

// Tries at most this many numbers before giving up (every four-digit name but 0).
constexpr DWORD QUARN_TEMP_FILE_TRIES = 0xFFFF;

// Creates a new empty file in the folder (which ends in a backslash) and gives its full name,
// trying the numbers from first on (1 to 0xFFFF, then 1 again). Fails with the file system's
// error, or ERROR_FILE_EXISTS when every name is taken.
bool MakeQuarnTempFileIn(const std::string& folder, DWORD first, std::wstring& name);
// The same in the server's temporary folder.
bool MakeQuarnTempFile(std::wstring& name);
