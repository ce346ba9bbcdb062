#include "AcmFunctions.h"

#include <atomic>

namespace {
const AcmFunctions g_system = {acmStreamOpen,    acmStreamSize,            acmStreamPrepareHeader,
                               acmStreamConvert, acmStreamUnprepareHeader, acmStreamClose};
std::atomic<const AcmFunctions*> g_current{&g_system};
} // namespace

const AcmFunctions& AcmFunctions::system()
{
    return g_system;
}

void AcmFunctions::use(const AcmFunctions* table)
{
    g_current = table != nullptr ? table : &g_system;
}

const AcmFunctions& AcmFunctions::current()
{
    return *g_current.load();
}
