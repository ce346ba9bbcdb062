#pragma once
#include "CJException.h"

class CDiskFullException : public CJException {
public:
    explicit CDiskFullException(std::string message) : CJException(std::move(message)) {}
};
