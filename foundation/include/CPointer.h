#pragma once
// Wraps a raw pointer without owning it. Serializable in form only: it can never be stored.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CPointer : public CJObject, public virtual ISerializable {
public:
    explicit CPointer(void* pointer);

    void* getPointer() const { return pointer_; }

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    void* pointer_;
};
