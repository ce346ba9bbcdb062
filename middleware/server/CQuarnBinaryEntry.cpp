#include "CQuarnBinaryEntry.h"

#include "QuarnCodes.h"

#include <cstring>
#include <new>

CQuarnBinaryEntry::CQuarnBinaryEntry() : CBase(QUARNTYPE_BINARY), m_pValue(nullptr), m_size(0) {}

CQuarnBinaryEntry::~CQuarnBinaryEntry()
{
    delete[] m_pValue;
}

bool CQuarnBinaryEntry::SetValue(const BYTE* bytes, DWORD size)
{
    if (bytes == nullptr && size != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    BYTE* copy = nullptr;
    if (size != 0) {
        copy = new (std::nothrow) BYTE[size];
        if (copy == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        memcpy(copy, bytes, size);
    }
    delete[] m_pValue;
    m_pValue = copy;
    m_size = size;
    return true;
}
