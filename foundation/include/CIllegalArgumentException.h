#pragma once
#include "CJException.h"

class CIllegalArgumentException : public CJException {
public:
    CIllegalArgumentException() {}
    explicit CIllegalArgumentException(std::string message) : CJException(std::move(message)) {}
};
