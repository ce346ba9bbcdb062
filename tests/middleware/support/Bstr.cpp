#include "Bstr.h"

#include <cwchar>

Bstr::Bstr(const std::wstring& text) : b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}

Bstr::~Bstr() { SysFreeString(b); }

BSTR* Bstr::out()
{
    SysFreeString(b);
    b = nullptr;
    return &b;
}

std::wstring Bstr::text() const { return b ? std::wstring(b, wcsnlen(b, SysStringLen(b))) : std::wstring(); }
