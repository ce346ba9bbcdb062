#pragma once
// A boxed boolean; travels as its value byte exactly as held (0 false, 1 true).
#include "CJObject.h"
#include "ISerializable.h"

#include <windows.h>

#include <string>

class CBool : public CJObject, public virtual ISerializable {
public:
    CBool();
    explicit CBool(bool value);

    bool booleanValue() const { return value_ != 0; }

    static bool fromBOOL(BOOL value);
    static std::string toString(bool value);

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    // A byte, not a bool: a restored byte other than 0 or 1 is kept as it came.
    unsigned char value_;
};
