#include "CSpoke.h"

#include "CHub.h"

void CSpoke::Attach(CHub&) {}
