#pragma once
#include "CJException.h"

// Keeps the thread's last Win32 error code from the moment it was raised; only the message
// travels to a remote caller.
class CWin32LastErrorException : public CJException {
public:
    explicit CWin32LastErrorException(std::string message);
    DWORD getErrorCode() const { return errorCode_; }

private:
    CWin32LastErrorException(std::string message, DWORD errorCode);

    DWORD errorCode_;
};
