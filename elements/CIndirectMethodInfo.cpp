#include "CIndirectMethodInfo.h"

#include "CIllegalArgumentException.h"
#include "CNullPointerException.h"
#include "COutOfMemoryException.h"
#include "ISerializable.h"

#include <cstring>
#include <new>

CIndirectMethodInfo::CIndirectMethodInfo(int kind, CElement* target, const std::string& methodName,
                                         ISerializable* arg, int bufSize, const void* buf)
    : target_(target), executor_(nullptr), kind_(kind), methodName_(methodName), arg_(nullptr), argTaken_(false),
      bufSize_(0), msg_(0), wParam_(0), lParam_(0)
{
    if (buf != nullptr) {
        if (bufSize < 0)
            throw CIllegalArgumentException(" CIndirectMethodInfo: negative buffer size " + std::to_string(bufSize));
        buf_.reset(new (std::nothrow) unsigned char[bufSize]);
        if (!buf_)
            throw COutOfMemoryException(" CIndirectMethodInfo: no memory for a buffer of " + std::to_string(bufSize)
                                        + " bytes");
        if (bufSize > 0)
            memcpy(buf_.get(), buf, bufSize);
        bufSize_ = bufSize;
    }
    // Taken last: when the constructor throws, the argument is still the caller's.
    arg_ = arg;
}

CIndirectMethodInfo::CIndirectMethodInfo(int kind, const std::string& windowName, UINT msg, WPARAM wParam,
                                         LPARAM lParam)
    : target_(nullptr), executor_(nullptr), kind_(kind), arg_(nullptr), argTaken_(false), bufSize_(0),
      windowName_(windowName), msg_(msg), wParam_(wParam), lParam_(lParam)
{
}

CIndirectMethodInfo::~CIndirectMethodInfo()
{
    delete arg_;
}

ISerializable* CIndirectMethodInfo::takeArg()
{
    if (argTaken_)
        throw CNullPointerException(" CIndirectMethodInfo::takeArg() called a second time: the argument is gone");
    argTaken_ = true;
    ISerializable* arg = arg_;
    arg_ = nullptr;
    return arg;
}
