#pragma once
#include "CJException.h"

class CMsgUnreachedException : public CJException {
public:
    explicit CMsgUnreachedException(std::string message) : CJException(std::move(message)) {}
};
