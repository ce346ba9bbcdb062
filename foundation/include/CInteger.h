#pragma once
// A boxed signed 32-bit integer; travels as four little-endian bytes.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CInteger : public CJObject, public virtual ISerializable {
public:
    CInteger();
    explicit CInteger(int value);
    // Keeps the text as given (leading blanks or zeros stay in toString) with its atoi value.
    explicit CInteger(std::string text);

    void setValue(int value);
    int intValue() const { return value_; }

    static int parseInt(std::string text);
    static std::string toString(int value);

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    int value_;
    std::string text_;
};
