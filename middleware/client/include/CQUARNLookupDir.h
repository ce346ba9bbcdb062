#pragma once
// A read-only handle on one directory of the middleware's network-wide lookup view: "\" lists
// the reachable computers by node identity, "\{node}\path" a directory of that computer.
// Failures are the failure values below and the thread's last error.
#include <windows.h>

#include <string>

class CQUARNInterface;
class CQUARNBinaryValue;

class CQUARNLookupDir {
public:
    enum { QUARNTYPE_INT = 1, QUARNTYPE_STRING = 2, QUARNTYPE_BINARY = 3, QUARNTYPE_DIR = 5 };
    static constexpr DWORD COUNT_FAILED = 0xFFFFFFFF;

    CQUARNLookupDir(const std::string& path, CQUARNInterface* owner);
    virtual ~CQUARNLookupDir();
    CQUARNLookupDir(const CQUARNLookupDir&) = delete;
    CQUARNLookupDir& operator=(const CQUARNLookupDir&) = delete;

    bool Initialize(HWND window);
    bool Refresh();
    DWORD GetEntryCount();
    std::string GetEntryName(DWORD index);
    DWORD GetEntryType(DWORD index);
    bool GetEntryValueInt(DWORD index, int* value);
    bool GetEntryValueString(DWORD index, std::string& value);
    // The caller deletes the result; null after a failure.
    CQUARNBinaryValue* GetEntryValueBinary(DWORD index);
    CQUARNBinaryValue* GetEntryValueBinary(const std::string& name);
    // Waits up to tries steps of 100 ms until the directory can be read.
    bool WaitReady(DWORD tries);
    bool Close();

    const std::string& getPath() const { return path; }

private:
    std::string path;
    DWORD handle;
    CQUARNInterface* owner;
};
