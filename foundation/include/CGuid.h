#pragma once
// A GUID value with its 36-character upper-case text form (no braces). Not serializable.
#include "CJObject.h"

#include <windows.h>

#include <string>

class CGuid : public CJObject {
public:
    CGuid(); // the zero GUID
    CGuid(const GUID& value);
    CGuid(const CGuid& other);
    // Throws CIllegalArgumentException unless the text is 36 characters with its four dashes.
    explicit CGuid(std::string text);
    CGuid& operator=(const CGuid& other);

    GUID getGuid() const { return value_; }
    GUID* getGuidPtr() { return &value_; }

    static std::string guidToString(const GUID& value);
    static GUID stringToGuid(std::string text);

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

private:
    GUID value_;
};

// Byte-wise equality of two GUIDs.
bool isEqualGuid(const GUID& a, const GUID& b);
