#include "RegistryKey.h"

#include <atomic>

namespace {
std::atomic<int> g_serial{0};
}

RegistryKey::RegistryKey()
    : path_("Software\\Tavelin Tests\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++g_serial) +
            "\\2.0"),
      owned_(true)
{
}

RegistryKey::RegistryKey(std::string path) : path_(std::move(path)), owned_(false) {}

RegistryKey::~RegistryKey()
{
    if (!owned_)
        return;
    // The per-object parent goes with its key.
    std::string parent = path_.substr(0, path_.rfind('\\'));
    RegDeleteTreeA(HKEY_CURRENT_USER, parent.c_str());
}

bool RegistryKey::exists() const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void RegistryKey::create() const
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

void RegistryKey::setRaw(const std::string& name, DWORD type, const std::string& bytes) const
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

void RegistryKey::setNumber(const std::string& name, DWORD value) const
{
    setRaw(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

void RegistryKey::setText(const std::string& name, const std::string& value) const
{
    setRaw(name, REG_SZ, value + '\0');
}

bool RegistryKey::read(const std::string& name, DWORD* type, std::string* bytes) const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    bool ok = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size) == ERROR_SUCCESS;
    if (ok) {
        std::vector<BYTE> data(size + 1);
        ok = RegQueryValueExA(key, name.c_str(), nullptr, type, data.data(), &size) == ERROR_SUCCESS;
        bytes->assign(reinterpret_cast<const char*>(data.data()), size);
    }
    RegCloseKey(key);
    return ok;
}

bool RegistryKey::has(const std::string& name) const
{
    DWORD type = 0;
    std::string bytes;
    return read(name, &type, &bytes);
}

long long RegistryKey::number(const std::string& name) const
{
    DWORD type = 0;
    std::string bytes;
    if (!read(name, &type, &bytes) || type != REG_DWORD || bytes.size() != 4)
        return -1;
    DWORD value = 0;
    memcpy(&value, bytes.data(), 4);
    return value;
}
