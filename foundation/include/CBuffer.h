#pragma once
// An owned copy of a byte block; travels as a 32-bit little-endian length and the bytes.
// Two buffers are equal only when they hold the very same block.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CBuffer : public CJObject, public virtual ISerializable {
public:
    CBuffer();
    // Throws CNullPointerException for NULL data, COutOfMemoryException when the copy cannot be made.
    CBuffer(const void* data, unsigned length);
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;
    ~CBuffer() override;

    const void* getData() const { return data_; }
    unsigned getLength() const { return length_; }

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    unsigned char* data_;
    unsigned length_;
};
