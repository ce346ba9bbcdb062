#pragma once
#include "CJException.h"

class CNoSuchElementException : public CJException {
public:
    explicit CNoSuchElementException(std::string message) : CJException(std::move(message)) {}
};
