#pragma once
// The X display's whole root window as "NAME.png" in the folder screenshots beside the test
// program, taken by ImageMagick's import (a program of the host, started through Wine), so that
// the picture is what the X server shows and not what Wine believes it drew.
#include <string>

// False (with the reason printed) when the picture was not written.
bool saveRootScreenshot(const std::string& name);
