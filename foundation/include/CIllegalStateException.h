#pragma once
#include "CJException.h"

class CIllegalStateException : public CJException {
public:
    explicit CIllegalStateException(std::string message) : CJException(std::move(message)) {}
};
