#include "RegistryKeys.h"

#include <algorithm>
#include <cctype>

namespace {

const std::string CLASSES = "Software\\Classes\\";

} // namespace

bool readValue(const std::string& key, const char* name, std::string& data)
{
    char buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    data = buffer;
    return true;
}

bool keyExists(const std::string& key)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

std::string classesValue(const std::string& key, const char* name)
{
    std::string data;
    return readValue(CLASSES + key, name, data) ? data : "(none)";
}

bool classesKeyExists(const std::string& key) { return keyExists(CLASSES + key); }

void findKeys(HKEY root, const std::string& path, const std::vector<std::string>& needles,
              std::vector<std::string>& found, int depth)
{
    HKEY key;
    if (depth > 12 || RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        for (const std::string& needle : needles)
            if (upper.find(needle) != std::string::npos)
                found.push_back(path + "\\" + name);
        findKeys(root, path + "\\" + name, needles, found, depth + 1);
    }
    RegCloseKey(key);
}
