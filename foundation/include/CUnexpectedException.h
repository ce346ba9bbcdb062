#pragma once
#include "CJException.h"

class CUnexpectedException : public CJException {
public:
    explicit CUnexpectedException(std::string message) : CJException(std::move(message)) {}
};
