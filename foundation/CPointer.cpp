#include "CPointer.h"

#include <cstdint>
#include <cstdio>

CPointer::CPointer(void* pointer) : pointer_(pointer) {}

bool CPointer::equals(const CJObject* other) const
{
    const CPointer* wrapper = dynamic_cast<const CPointer*>(other);
    return wrapper != nullptr && wrapper->pointer_ == pointer_;
}

bool CPointer::isEquatable() const
{
    return true;
}

int CPointer::hashCode() const
{
    return static_cast<int>(reinterpret_cast<uintptr_t>(pointer_));
}

std::string CPointer::toString() const
{
    char text[40];
    snprintf(text, sizeof(text), "ptr= 0x%08llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer_)));
    return text;
}

unsigned CPointer::getSerializedSize() const
{
    return 0;
}

bool CPointer::store(void*) const
{
    return false;
}

bool CPointer::restore(const void*, unsigned, unsigned* consumed)
{
    if (consumed != nullptr)
        *consumed = 0;
    return false;
}

const char* CPointer::getClassName() const
{
    return "CPointer";
}
