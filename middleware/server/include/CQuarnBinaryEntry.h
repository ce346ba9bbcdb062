#pragma once
// A leaf holding a block of bytes of its own, empty when made.
#include "CBase.h"

class CQuarnBinaryEntry : public CBase {
public:
    CQuarnBinaryEntry();
    ~CQuarnBinaryEntry() override;

    const BYTE* GetValue() const { return m_pValue; }
    DWORD GetValueSize() const { return m_size; }
    // Keeps a copy of size bytes. When the copy cannot be made: false with
    // ERROR_NOT_ENOUGH_MEMORY and the old value kept whole (never a size without bytes).
    bool SetValue(const BYTE* bytes, DWORD size);

private:
    BYTE* m_pValue;
    DWORD m_size;
};
