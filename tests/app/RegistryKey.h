#pragma once
// A private key below HKEY_CURRENT_USER for one test, removed with everything in it at the end.
#include <windows.h>

#include <string>
#include <vector>

class RegistryKey {
public:
    // A fresh name per process and object; nothing is made until a value is written.
    RegistryKey();
    // An existing test key of that path (another process's), left in place at the end.
    explicit RegistryKey(std::string path);
    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    const std::string& path() const { return path_; }
    bool exists() const;
    void create() const;
    void setNumber(const std::string& name, DWORD value) const;
    void setText(const std::string& name, const std::string& value) const;
    void setRaw(const std::string& name, DWORD type, const std::string& bytes) const;
    // Type and bytes of a value; false when it cannot be read.
    bool read(const std::string& name, DWORD* type, std::string* bytes) const;
    bool has(const std::string& name) const;
    // A REG_DWORD's value; -1 when it is missing or of another type.
    long long number(const std::string& name) const;

private:
    std::string path_;
    bool owned_;
};
