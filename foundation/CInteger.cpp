#include "CInteger.h"

#include <cstdint>
#include <cstdlib>

namespace {
const unsigned STORED_SIZE = 4;
}

CInteger::CInteger() : value_(0), text_("0") {}

CInteger::CInteger(int value) : value_(value), text_(toString(value)) {}

CInteger::CInteger(std::string text) : value_(parseInt(text)), text_(std::move(text)) {}

void CInteger::setValue(int value)
{
    value_ = value;
    text_ = toString(value);
}

int CInteger::parseInt(std::string text)
{
    return atoi(text.c_str());
}

std::string CInteger::toString(int value)
{
    return std::to_string(value);
}

bool CInteger::equals(const CJObject* other) const
{
    const CInteger* integer = dynamic_cast<const CInteger*>(other);
    return integer != nullptr && integer->value_ == value_;
}

bool CInteger::isEquatable() const
{
    return true;
}

int CInteger::hashCode() const
{
    return value_;
}

std::string CInteger::toString() const
{
    return text_;
}

unsigned CInteger::getSerializedSize() const
{
    return STORED_SIZE;
}

bool CInteger::store(void* destination) const
{
    uint32_t bits = static_cast<uint32_t>(value_);
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    for (unsigned i = 0; i < STORED_SIZE; ++i)
        bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
    return true;
}

bool CInteger::restore(const void* source, unsigned length, unsigned* consumed)
{
    if (consumed != nullptr)
        *consumed = 0;
    if (source == nullptr || length < STORED_SIZE)
        return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(source);
    uint32_t bits = 0;
    for (unsigned i = 0; i < STORED_SIZE; ++i)
        bits |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    setValue(static_cast<int32_t>(bits));
    if (consumed != nullptr)
        *consumed = STORED_SIZE;
    return true;
}

const char* CInteger::getClassName() const
{
    return "CInteger";
}
