#pragma once
// A leaf holding a signed 32-bit value, 0 when made.
#include "CBase.h"

class CQuarnIntEntry : public CBase {
public:
    CQuarnIntEntry();

    LONG GetValue() const { return m_value; }
    void SetValue(LONG value) { m_value = value; }

private:
    LONG m_value;
};
