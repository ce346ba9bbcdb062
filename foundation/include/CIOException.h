#pragma once
#include "CJException.h"

class CIOException : public CJException {
public:
    explicit CIOException(std::string message) : CJException(std::move(message)) {}
};
