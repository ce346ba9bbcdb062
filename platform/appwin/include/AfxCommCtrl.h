#pragma once
// The common controls' window classes, registered when a control or dialog first needs them.
#include <windows.h>

// ICC_* flags of the classes to register; TRUE when they are.
BOOL AfxRegisterCommonControls(DWORD classes);
