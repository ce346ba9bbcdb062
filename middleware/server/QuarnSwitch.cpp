#include "QuarnSwitch.h"

#include <cstring>
#include <string.h>

QuarnSwitch ParseQuarnSwitch(const char* commandLine, bool withService)
{
    if (!commandLine)
        return QuarnSwitch::Run;
    for (const char* sign = std::strpbrk(commandLine, "-/"); sign; sign = std::strpbrk(sign + 1, "-/")) {
        const char* rest = sign + 1;
        if (_stricmp(rest, "UnregServer") == 0)
            return QuarnSwitch::UnregServer;
        if (_stricmp(rest, "RegServer") == 0)
            return QuarnSwitch::RegServer;
        if (withService && _stricmp(rest, "Service") == 0)
            return QuarnSwitch::Service;
    }
    return QuarnSwitch::Run;
}
