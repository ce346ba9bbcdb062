#pragma once
#include "CJException.h"

class CNoSuchMethodException : public CJException {
public:
    explicit CNoSuchMethodException(std::string message) : CJException(std::move(message)) {}
};
