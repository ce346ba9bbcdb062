#include "CWndMsg.h"

#include <cstdio>

namespace {

const unsigned FIELD_SIZE = 4;
const unsigned STORED_SIZE = 3 * FIELD_SIZE;

void putLittleEndian(unsigned char* bytes, unsigned value)
{
    for (unsigned i = 0; i < FIELD_SIZE; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

unsigned getLittleEndian(const unsigned char* bytes)
{
    unsigned value = 0;
    for (unsigned i = 0; i < FIELD_SIZE; ++i)
        value |= static_cast<unsigned>(bytes[i]) << (8 * i);
    return value;
}

} // namespace

CWndMsg::CWndMsg(unsigned msg, unsigned wParam, unsigned lParam) : msg_(msg), wParam_(wParam), lParam_(lParam) {}

CWndMsg::CWndMsg(const CWndMsg& other)
    : CJObject(other), msg_(other.msg_), wParam_(other.wParam_), lParam_(other.lParam_)
{
}

CWndMsg& CWndMsg::operator=(const CWndMsg& other)
{
    msg_ = other.msg_;
    wParam_ = other.wParam_;
    lParam_ = other.lParam_;
    return *this;
}

bool CWndMsg::equals(const CJObject* other) const
{
    const CWndMsg* message = dynamic_cast<const CWndMsg*>(other);
    return message != nullptr && message->msg_ == msg_ && message->wParam_ == wParam_ && message->lParam_ == lParam_;
}

bool CWndMsg::isEquatable() const
{
    return true;
}

int CWndMsg::hashCode() const
{
    return static_cast<int>(msg_);
}

std::string CWndMsg::toString() const
{
    char text[64];
    snprintf(text, sizeof(text), "msg %08x, wparam %08x, lparam %08x", msg_, wParam_, lParam_);
    return text;
}

unsigned CWndMsg::getSerializedSize() const
{
    return STORED_SIZE;
}

bool CWndMsg::store(void* destination) const
{
    unsigned char* bytes = static_cast<unsigned char*>(destination);
    putLittleEndian(bytes, msg_);
    putLittleEndian(bytes + FIELD_SIZE, wParam_);
    putLittleEndian(bytes + 2 * FIELD_SIZE, lParam_);
    return true;
}

bool CWndMsg::restore(const void* source, unsigned length, unsigned* consumed)
{
    if (consumed != nullptr)
        *consumed = 0;
    if (source == nullptr || length < STORED_SIZE)
        return false;
    const unsigned char* bytes = static_cast<const unsigned char*>(source);
    msg_ = getLittleEndian(bytes);
    wParam_ = getLittleEndian(bytes + FIELD_SIZE);
    lParam_ = getLittleEndian(bytes + 2 * FIELD_SIZE);
    if (consumed != nullptr)
        *consumed = STORED_SIZE;
    return true;
}

const char* CWndMsg::getClassName() const
{
    return "CWndMsg";
}
