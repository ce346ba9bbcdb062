#pragma once
#include "CSpoke.h"

class CHub {
  CSpoke m_spoke;
};
