#pragma once
// Registry helper of the voice engine: every operation tries the user's hive first and falls
// back to the machine's when that attempt fails for any reason; the result is the last attempt's.
#include <windows.h>

#include <cstdint>

class CMyReg {
public:
    virtual ~CMyReg() = default;

    static LONG readNumber(const char* keyPath, const char* valueName, uint32_t* value);
    static LONG readDefaultNumber(const char* keyPath, uint32_t* value);
    // valueName null: the key's unnamed value. length: in the buffer's size, out the bytes read.
    static LONG readText(const char* keyPath, const char* valueName, char* buffer, DWORD* length);
    static LONG writeNumber(const char* keyPath, const char* valueName, uint32_t value);
    static LONG writeDefaultNumber(const char* keyPath, uint32_t value);
    static LONG writeText(const char* keyPath, const char* valueName, const char* text);

    // The two roots the key paths are opened under: HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE
    // unless a test points them at private keys (so parallel tests never share one value).
    static void setHives(HKEY user, HKEY machine);
    static void resetHives();

private:
    static HKEY hive(int index);
};
