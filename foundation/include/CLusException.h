#pragma once
#include "CJException.h"

class CLusException : public CJException {
public:
    explicit CLusException(std::string message) : CJException(std::move(message)) {}
};
