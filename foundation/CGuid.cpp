#include "CGuid.h"

#include "CIllegalArgumentException.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char SCOPE[] = "//CGuid";
const size_t TEXT_LENGTH = 36;

[[noreturn]] void malformed()
{
    throw CIllegalArgumentException("CIllegalArgumentException ");
}

} // namespace

CGuid::CGuid() : value_()
{
    CTrace::trace(SCOPE, " CGuid() built without an argument: holds the zero GUID", 0);
}

CGuid::CGuid(const GUID& value) : value_(value) {}

CGuid::CGuid(const CGuid& other) : CJObject(other), value_(other.value_) {}

CGuid::CGuid(std::string text) : value_()
{
    if (text.size() != TEXT_LENGTH)
        malformed();
    std::string rest = text;
    unsigned long fields[3];
    for (unsigned long& field : fields) {
        rest = "0x" + rest;
        size_t dash = rest.find('-');
        if (dash == std::string::npos)
            malformed();
        rest[dash] = ' ';
        field = strtoul(rest.c_str(), nullptr, 16);
        rest.erase(0, dash + 1);
    }
    size_t dash = rest.find('-');
    if (dash == std::string::npos)
        malformed();
    rest.erase(dash, 1);
    for (unsigned char& byte : value_.Data4) {
        std::string digits = "0x" + rest.substr(0, 2) + " ";
        byte = static_cast<unsigned char>(strtoul(digits.c_str(), nullptr, 16) & 0xFF);
        rest.erase(0, std::min<size_t>(2, rest.size()));
    }
    value_.Data1 = fields[0];
    value_.Data2 = static_cast<unsigned short>(fields[1] & 0xFFFF);
    value_.Data3 = static_cast<unsigned short>(fields[2] & 0xFFFF);
}

CGuid& CGuid::operator=(const CGuid& other)
{
    if (this != &other)
        value_ = other.value_;
    return *this;
}

std::string CGuid::guidToString(const GUID& value)
{
    char text[40];
    snprintf(text, sizeof(text), "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
             static_cast<unsigned long>(value.Data1), value.Data2, value.Data3, value.Data4[0], value.Data4[1],
             value.Data4[2], value.Data4[3], value.Data4[4], value.Data4[5], value.Data4[6], value.Data4[7]);
    return text;
}

GUID CGuid::stringToGuid(std::string text)
{
    return CGuid(std::move(text)).getGuid();
}

bool CGuid::equals(const CJObject* other) const
{
    const CGuid* guid = dynamic_cast<const CGuid*>(other);
    return guid != nullptr && isEqualGuid(guid->value_, value_);
}

bool CGuid::isEquatable() const
{
    return true;
}

int CGuid::hashCode() const
{
    return static_cast<int>(value_.Data2);
}

std::string CGuid::toString() const
{
    return guidToString(value_);
}

bool isEqualGuid(const GUID& a, const GUID& b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}
