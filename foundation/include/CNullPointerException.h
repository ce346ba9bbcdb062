#pragma once
#include "CJException.h"

class CNullPointerException : public CJException {
public:
    CNullPointerException() {}
    explicit CNullPointerException(std::string message) : CJException(std::move(message)) {}
};
