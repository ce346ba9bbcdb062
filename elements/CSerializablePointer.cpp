#include "CSerializablePointer.h"

namespace {
const char SCOPE[] = "//CSerializablePointer";
}

CSerializablePointer::CSerializablePointer(void* pointer) : CPointer(pointer) {}

bool CSerializablePointer::equals(const CJObject* other) const
{
    const CSerializablePointer* wrapper = dynamic_cast<const CSerializablePointer*>(other);
    bool equal = wrapper != nullptr && wrapper->getPointer() == getPointer();
    CTrace::trace(SCOPE, equal ? " equals(): the two are equal" : " equals(): the two are not equal", 0);
    return equal;
}

const char* CSerializablePointer::getClassName() const
{
    return "CSerializablePointer";
}
