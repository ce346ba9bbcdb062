#pragma once
// Root of the exception family: thrown by value, caught by class. Every class of the family
// travels as a plain "CJException" carrying its message.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CJException : public CJObject, public virtual ISerializable {
public:
    CJException();
    explicit CJException(std::string message);
    CJException(const CJException& other);
    CJException& operator=(const CJException& other);

    std::string toString() const override;
    void setMessage(std::string message);
    const std::string& getMessage() const { return message_; }

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    std::string message_;
};
