// tavapp's entry: the one application object, run on the start-up thread.
#include "CTav.h"

CTav theApp;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand)
{
    return AppWinMain(instance, commandLine, showCommand);
}
