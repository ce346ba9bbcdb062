#include "CWin32LastErrorException.h"

// The code is read before any base is built: building one may trace, which touches files.
CWin32LastErrorException::CWin32LastErrorException(std::string message)
    : CWin32LastErrorException(std::move(message), GetLastError())
{
}

CWin32LastErrorException::CWin32LastErrorException(std::string message, DWORD errorCode)
    : CJException(std::move(message)), errorCode_(errorCode)
{
}
