#pragma once
#include "CHub.h"

class CRim {
  CHub m_hub;
};
