#pragma once
// One service provider as DirectPlay's connection enumeration reported it: its GUID and a
// private copy of its connection data.
#include "CJObject.h"

#include <windows.h>

class CDPServiceProvider : public CJObject {
public:
    CDPServiceProvider();
    ~CDPServiceProvider() override;
    CDPServiceProvider(const CDPServiceProvider&) = delete;
    CDPServiceProvider& operator=(const CDPServiceProvider&) = delete;

    // Keeps a copy of size bytes of data (none for NULL data or size 0).
    void setInfo(const GUID& guid, const void* data, DWORD size);
    const GUID& getGuid() const { return guid_; }
    const void* getConnectionData() const { return data_; }
    DWORD getConnectionDataSize() const { return size_; }
    // The provider is DirectPlay's TCP/IP service provider.
    bool isTCPIP() const;

    // Equal to a provider with the same GUID.
    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;

private:
    GUID guid_;
    unsigned char* data_;
    DWORD size_;
};
