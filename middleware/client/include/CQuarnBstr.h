#pragma once
// A BSTR owned for a scope, and the conversions between the program's ANSI texts and the
// server's BSTRs.
#include <windows.h>
#include <oleauto.h>

#include <string>

class CQuarnBstr {
public:
    CQuarnBstr() = default;
    // From ANSI text. An empty text is a null BSTR, as the server gives it.
    explicit CQuarnBstr(const std::string& text);
    ~CQuarnBstr();
    CQuarnBstr(const CQuarnBstr&) = delete;
    CQuarnBstr& operator=(const CQuarnBstr&) = delete;

    BSTR get() const { return bstr_; }
    // False when a non-empty text could not be allocated.
    bool allocated() const { return allocated_; }
    // For an [out] parameter: frees what is held and gives the place.
    BSTR* out();
    std::string text() const { return toText(bstr_); }

    // The server's strings count their terminating zero, and a value may hold more after it:
    // the text ends at the first NUL. A null BSTR is an empty text.
    static std::string toText(BSTR value);

private:
    BSTR bstr_ = nullptr;
    bool allocated_ = true;
};
