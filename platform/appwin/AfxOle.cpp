#include "AfxOle.h"

void AfxEnableControlContainer() {}
