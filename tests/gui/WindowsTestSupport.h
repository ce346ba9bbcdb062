#pragma once
// Real pointer input for the window tests of the main program's GUI.
#include <windows.h>

// Moves the pointer to the screen point and clicks the left button there.
void clickAt(int x, int y);
