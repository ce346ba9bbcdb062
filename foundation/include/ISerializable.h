#pragma once
// A value that writes itself into a message and is rebuilt from those bytes on the receiving
// terminal. The stored form carries no type name; the codec writes getClassName() before it.

class ISerializable {
public:
    virtual ~ISerializable() {}
    // Number of bytes that store() writes.
    virtual unsigned getSerializedSize() const = 0;
    // Writes the stored form at destination (at least getSerializedSize() bytes); false when
    // the value cannot be stored.
    virtual bool store(void* destination) const = 0;
    // Reads the stored form from the length bytes at source and reports the bytes used in
    // consumed. False, with the value unchanged and consumed 0, when the bytes do not hold a
    // complete stored form.
    virtual bool restore(const void* source, unsigned length, unsigned* consumed) = 0;
    virtual const char* getClassName() const = 0;
};
