#pragma once
// A leaf holding a UTF-16 text of its own, null when made.
#include "CBase.h"

class CQuarnStringEntry : public CBase {
public:
    CQuarnStringEntry();

    // Null when the entry holds no text.
    const WCHAR* GetValue() const { return m_hasValue ? m_value.c_str() : nullptr; }
    // Characters with the terminating zero; 0 for no text.
    DWORD GetValueSize() const { return m_hasValue ? static_cast<DWORD>(m_value.size() + 1) : 0; }
    // Keeps a copy (null stays null); false with ERROR_NOT_ENOUGH_MEMORY, the old text kept.
    bool SetValue(const WCHAR* text);

private:
    std::wstring m_value;
    bool m_hasValue;
};
