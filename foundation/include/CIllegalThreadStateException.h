#pragma once
#include "CJException.h"

class CIllegalThreadStateException : public CJException {
public:
    explicit CIllegalThreadStateException(std::string message) : CJException(std::move(message)) {}
};
