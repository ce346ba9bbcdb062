#pragma once
#include "CJException.h"

class CUnknownHostException : public CJException {
public:
    explicit CUnknownHostException(std::string message) : CJException(std::move(message)) {}
};
