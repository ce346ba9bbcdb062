// Stands in for a test program that hangs: it prints a line, then never ends.
#include <windows.h>

#include <cstdio>

int main()
{
    printf("written before the hang\n");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
