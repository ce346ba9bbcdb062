#include "CBool.h"

CBool::CBool() : value_(0) {}

CBool::CBool(bool value) : value_(value ? 1 : 0) {}

bool CBool::fromBOOL(BOOL value)
{
    return value != FALSE;
}

std::string CBool::toString(bool value)
{
    return value ? "true" : "false";
}

bool CBool::equals(const CJObject* other) const
{
    const CBool* boolean = dynamic_cast<const CBool*>(other);
    return boolean != nullptr && boolean->value_ == value_;
}

bool CBool::isEquatable() const
{
    return true;
}

int CBool::hashCode() const
{
    return 1;
}

std::string CBool::toString() const
{
    return toString(value_ == 1);
}

unsigned CBool::getSerializedSize() const
{
    return 1;
}

bool CBool::store(void* destination) const
{
    *static_cast<unsigned char*>(destination) = value_;
    return true;
}

bool CBool::restore(const void* source, unsigned length, unsigned* consumed)
{
    if (consumed != nullptr)
        *consumed = 0;
    if (source == nullptr || length < 1)
        return false;
    value_ = *static_cast<const unsigned char*>(source);
    if (consumed != nullptr)
        *consumed = 1;
    return true;
}

const char* CBool::getClassName() const
{
    return "CBool";
}
