// quarnhost.exe: the middleware server as a local COM server (windows subsystem).
#include "CQuarnHost.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return CQuarnHost::Main(GetCommandLineA());
}
