#include "MixerFunctions.h"

#include <atomic>

namespace {
const MixerFunctions g_system = {mixerGetNumDevs,       mixerOpen,
                                 mixerGetDevCapsA,      mixerGetLineInfoA,
                                 mixerGetLineControlsA, mixerGetControlDetailsA,
                                 mixerSetControlDetails, mixerClose};
std::atomic<const MixerFunctions*> g_current{&g_system};
} // namespace

const MixerFunctions& MixerFunctions::system()
{
    return g_system;
}

void MixerFunctions::use(const MixerFunctions* table)
{
    g_current = table != nullptr ? table : &g_system;
}

const MixerFunctions& MixerFunctions::current()
{
    return *g_current.load();
}
