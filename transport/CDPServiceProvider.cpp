#include "CDPServiceProvider.h"

#include "CGuid.h"

#include <dplay.h>

#include <cstring>

CDPServiceProvider::CDPServiceProvider() : guid_(GUID_NULL), data_(nullptr), size_(0)
{
}

CDPServiceProvider::~CDPServiceProvider()
{
    delete[] data_;
}

void CDPServiceProvider::setInfo(const GUID& guid, const void* data, DWORD size)
{
    unsigned char* copy = nullptr;
    if (data != nullptr && size > 0) {
        copy = new unsigned char[size];
        std::memcpy(copy, data, size);
    }
    delete[] data_;
    guid_ = guid;
    data_ = copy;
    size_ = copy != nullptr ? size : 0;
}

bool CDPServiceProvider::isTCPIP() const
{
    return isEqualGuid(guid_, DPSPGUID_TCPIP);
}

bool CDPServiceProvider::equals(const CJObject* other) const
{
    const CDPServiceProvider* provider = dynamic_cast<const CDPServiceProvider*>(other);
    return provider != nullptr && isEqualGuid(provider->guid_, guid_);
}

bool CDPServiceProvider::isEquatable() const
{
    return true;
}

int CDPServiceProvider::hashCode() const
{
    return static_cast<int>(guid_.Data2);
}
