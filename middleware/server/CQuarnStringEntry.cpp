#include "CQuarnStringEntry.h"

#include "QuarnCodes.h"

#include <new>

CQuarnStringEntry::CQuarnStringEntry() : CBase(QUARNTYPE_STRING), m_hasValue(false) {}

bool CQuarnStringEntry::SetValue(const WCHAR* text)
{
    if (text == nullptr) {
        m_value.clear();
        m_hasValue = false;
        return true;
    }
    try {
        std::wstring copy(text);
        m_value.swap(copy);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    m_hasValue = true;
    return true;
}
