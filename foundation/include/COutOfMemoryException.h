#pragma once
#include "CJException.h"

class COutOfMemoryException : public CJException {
public:
    COutOfMemoryException() {}
    explicit COutOfMemoryException(std::string message) : CJException(std::move(message)) {}
};
