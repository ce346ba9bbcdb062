#pragma once
// A failed call to the middleware server that the caller must see: its HRESULT goes with it.
#include "CIOException.h"

#include <windows.h>

class CQuarnCallException : public CIOException {
public:
    CQuarnCallException(std::string message, HRESULT result);
    HRESULT getHResult() const { return result_; }

private:
    HRESULT result_;
};
