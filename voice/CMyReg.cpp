#include "CMyReg.h"

#include <atomic>

namespace {

std::atomic<HKEY> g_user{HKEY_CURRENT_USER};
std::atomic<HKEY> g_machine{HKEY_LOCAL_MACHINE};

// One attempt per hive, user first; stops at the first success.
template <typename Attempt>
LONG inBothHives(HKEY user, HKEY machine, Attempt attempt)
{
    LONG result = attempt(user);
    if (result != ERROR_SUCCESS)
        result = attempt(machine);
    return result;
}

LONG queryNumber(HKEY root, const char* keyPath, const char* valueName, uint32_t* value)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key);
    if (result != ERROR_SUCCESS)
        return result;
    // Starts zeroed: a value shorter than four bytes reads the same way every time.
    BYTE buffer[4] = {0, 0, 0, 0};
    DWORD size = sizeof buffer;
    result = RegQueryValueExA(key, valueName, nullptr, nullptr, buffer, &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS)
        *value = uint32_t(buffer[0]) | uint32_t(buffer[1]) << 8 | uint32_t(buffer[2]) << 16 | uint32_t(buffer[3]) << 24;
    return result;
}

LONG setValue(HKEY root, const char* keyPath, REGSAM access, const char* valueName, DWORD type, const BYTE* data,
              DWORD size)
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, valueName, 0, type, data, size);
    RegCloseKey(key);
    return result;
}

} // namespace

void CMyReg::setHives(HKEY user, HKEY machine)
{
    g_user = user;
    g_machine = machine;
}

void CMyReg::resetHives()
{
    setHives(HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE);
}

HKEY CMyReg::hive(int index)
{
    return index == 0 ? g_user.load() : g_machine.load();
}

LONG CMyReg::readNumber(const char* keyPath, const char* valueName, uint32_t* value)
{
    return inBothHives(hive(0), hive(1),
                       [&](HKEY root) { return queryNumber(root, keyPath, valueName, value); });
}

LONG CMyReg::readDefaultNumber(const char* keyPath, uint32_t* value)
{
    return readNumber(keyPath, nullptr, value);
}

LONG CMyReg::readText(const char* keyPath, const char* valueName, char* buffer, DWORD* length)
{
    const DWORD given = *length;
    return inBothHives(hive(0), hive(1), [&](HKEY root) {
        HKEY key = nullptr;
        *length = given;
        LONG result = RegOpenKeyExA(root, keyPath, 0, KEY_READ, &key);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), length);
        RegCloseKey(key);
        return result;
    });
}

LONG CMyReg::writeNumber(const char* keyPath, const char* valueName, uint32_t value)
{
    DWORD data = value;
    return inBothHives(hive(0), hive(1), [&](HKEY root) {
        return setValue(root, keyPath, KEY_ALL_ACCESS, valueName, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data);
    });
}

LONG CMyReg::writeDefaultNumber(const char* keyPath, uint32_t value)
{
    DWORD data = value;
    return inBothHives(hive(0), hive(1), [&](HKEY root) {
        return setValue(root, keyPath, KEY_SET_VALUE, nullptr, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                        sizeof data);
    });
}

LONG CMyReg::writeText(const char* keyPath, const char* valueName, const char* text)
{
    return inBothHives(hive(0), hive(1), [&](HKEY root) {
        return setValue(root, keyPath, KEY_ALL_ACCESS, valueName, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        DWORD(lstrlenA(text) + 1));
    });
}
