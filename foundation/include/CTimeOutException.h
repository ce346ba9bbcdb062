#pragma once
#include "CJException.h"

class CTimeOutException : public CJException {
public:
    explicit CTimeOutException(std::string message) : CJException(std::move(message)) {}
};
