#include "CQuarnIntEntry.h"

#include "QuarnCodes.h"

CQuarnIntEntry::CQuarnIntEntry() : CBase(QUARNTYPE_INT), m_value(0) {}
