#pragma once
#include "CJException.h"

class CNotSerializableException : public CJException {
public:
    explicit CNotSerializableException(std::string message) : CJException(std::move(message)) {}
};
