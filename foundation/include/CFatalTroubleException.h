#pragma once
#include "CJException.h"

class CFatalTroubleException : public CJException {
public:
    explicit CFatalTroubleException(std::string message) : CJException(std::move(message)) {}
};
