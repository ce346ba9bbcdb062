#pragma once
// A window message (number, wParam, lParam) that an element is told to post or send to its
// window. Stored as three 32-bit little-endian numbers, but no terminal decodes it: it travels
// only between the threads of one process.
#include "CJObject.h"
#include "ISerializable.h"

#include <string>

class CWndMsg : public CJObject, public virtual ISerializable {
public:
    CWndMsg(unsigned msg, unsigned wParam, unsigned lParam);
    CWndMsg(const CWndMsg& other);
    CWndMsg& operator=(const CWndMsg& other);

    unsigned getMsg() const { return msg_; }
    unsigned getWParam() const { return wParam_; }
    unsigned getLParam() const { return lParam_; }

    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;
    std::string toString() const override;

    unsigned getSerializedSize() const override;
    bool store(void* destination) const override;
    bool restore(const void* source, unsigned length, unsigned* consumed) override;
    const char* getClassName() const override;

private:
    unsigned msg_;
    unsigned wParam_;
    unsigned lParam_;
};
