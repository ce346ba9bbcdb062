#pragma once
#include "CJException.h"

class CFatalTroubleRecommendRebootException : public CJException {
public:
    explicit CFatalTroubleRecommendRebootException(std::string message) : CJException(std::move(message)) {}
};
