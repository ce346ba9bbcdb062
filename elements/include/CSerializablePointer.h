#pragma once
// Carries a raw pointer as the result of a call between the threads of one process (for
// instance an exception object thrown on the UI thread, handed back to the waiting thread).
// Like CPointer it does not own what it points to and can never be stored, so it never
// crosses terminals; it has a type of its own so that the waiting thread can recognise it.
#include "CPointer.h"

class CSerializablePointer : public CPointer {
public:
    explicit CSerializablePointer(void* pointer);

    // Equal only to another CSerializablePointer that holds the same pointer.
    bool equals(const CJObject* other) const override;
    const char* getClassName() const override;
};
