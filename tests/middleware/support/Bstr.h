#pragma once
#include <windows.h>

#include <oleauto.h>

#include <string>

// A BSTR the test owns: freed at its end, and before it is handed out again.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::wstring& text);
    ~Bstr();
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    // For an [out] argument: the string held so far is freed first.
    BSTR* out();
    // The text up to the first zero (the length of a name counts its zero).
    std::wstring text() const;

    BSTR b = nullptr;
};
