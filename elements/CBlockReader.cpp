#include "CBlockReader.h"

#include <cstring>

bool CBlockReader::readByte(unsigned char* value)
{
    if (remaining_ < 1)
        return false;
    *value = *position_;
    return skip(1);
}

bool CBlockReader::readUInt32(unsigned* value)
{
    if (remaining_ < 4)
        return false;
    *value = static_cast<unsigned>(position_[0]) | static_cast<unsigned>(position_[1]) << 8
             | static_cast<unsigned>(position_[2]) << 16 | static_cast<unsigned>(position_[3]) << 24;
    return skip(4);
}

bool CBlockReader::readText(std::string* text)
{
    const unsigned char* nul = findNul(position_, remaining_);
    if (nul == nullptr)
        return false;
    unsigned length = static_cast<unsigned>(nul - position_);
    text->assign(reinterpret_cast<const char*>(position_), length);
    return skip(length + 1);
}

bool CBlockReader::readText(std::string_view* text)
{
    const unsigned char* nul = findNul(position_, remaining_);
    if (nul == nullptr)
        return false;
    unsigned length = static_cast<unsigned>(nul - position_);
    *text = std::string_view(reinterpret_cast<const char*>(position_), length);
    return skip(length + 1);
}

bool CBlockReader::skip(unsigned count)
{
    if (count > remaining_)
        return false;
    position_ += count;
    remaining_ -= count;
    return true;
}
