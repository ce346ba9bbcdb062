// quarnguard.exe: the middleware server as a Windows service (windows subsystem).
#include "CQuarnServiceHost.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return CQuarnServiceHost::Instance().Main(GetCommandLineA());
}
