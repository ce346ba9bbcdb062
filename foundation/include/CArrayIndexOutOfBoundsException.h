#pragma once
#include "CJException.h"

class CArrayIndexOutOfBoundsException : public CJException {
public:
    explicit CArrayIndexOutOfBoundsException(std::string message) : CJException(std::move(message)) {}
};
