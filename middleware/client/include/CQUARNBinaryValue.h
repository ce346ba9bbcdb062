#pragma once
// A binary entry's value as the server gives it: a VARIANT holding a byte array.
#include <windows.h>
#include <oleauto.h>

class CQUARNBinaryValue {
public:
    CQUARNBinaryValue();
    virtual ~CQUARNBinaryValue();
    CQUARNBinaryValue(const CQUARNBinaryValue&) = delete;
    CQUARNBinaryValue& operator=(const CQUARNBinaryValue&) = delete;

    // Takes a copy of the value; false when it cannot be copied.
    bool copyFrom(const VARIANT& value);
    // The bytes; null when the value holds no accessible byte array (or no bytes).
    const BYTE* data();
    ULONG count() const;
    // Replaces the value with a copy of the bytes; false when the array cannot be made.
    bool fill(const BYTE* bytes, ULONG byteCount);
    VARIANT& variant() { return value; }

private:
    SAFEARRAY* array() const;

    VARIANT value;
    BYTE* accessed;
};
