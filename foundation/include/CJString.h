#pragma once
// A boxed 8-bit text; travels as its characters followed by one NUL.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CJString : public CJObject, public virtual ISerializable {
public:
    CJString();
    CJString(const CJString& other);
    explicit CJString(std::string text);
    CJString& operator=(const CJString& other);

    void setString(std::string text);

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    // First character as a signed byte times the length; 0 for the empty text.
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    std::string text_;
};
