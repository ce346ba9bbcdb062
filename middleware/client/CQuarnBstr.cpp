#include "CQuarnBstr.h"

#include <cwchar>
#include <vector>

CQuarnBstr::CQuarnBstr(const std::string& text)
{
    if (text.empty())
        return;
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<size_t>(length > 0 ? length : 0));
    if (length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    bstr_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    allocated_ = bstr_ != nullptr;
}

CQuarnBstr::~CQuarnBstr() { SysFreeString(bstr_); }

BSTR* CQuarnBstr::out()
{
    SysFreeString(bstr_);
    bstr_ = nullptr;
    return &bstr_;
}

std::string CQuarnBstr::toText(BSTR value)
{
    if (value == nullptr)
        return std::string();
    int length = static_cast<int>(wcsnlen(value, SysStringLen(value)));
    if (length == 0)
        return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, value, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, value, length, &text[0], size, nullptr, nullptr);
    return text;
}
