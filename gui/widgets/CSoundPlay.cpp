#include "CSoundPlay.h"

#include <mmsystem.h>

#include <atomic>

namespace {

std::atomic<bool> g_mute{false};
std::atomic<CSoundPlay::PlayFunction> g_play{&PlaySoundA};

} // namespace

void CSoundPlay::setMute(bool mute)
{
    g_mute = mute;
}

bool CSoundPlay::isMute()
{
    return g_mute;
}

void CSoundPlay::Play(int id)
{
    if (g_mute)
        return;
    g_play.load()(MAKEINTRESOURCEA(id), GetModuleHandleA(nullptr), SND_RESOURCE | SND_ASYNC | SND_NOWAIT);
}

CSoundPlay::PlayFunction CSoundPlay::setPlayFunction(PlayFunction play)
{
    return g_play.exchange(play != nullptr ? play : &PlaySoundA);
}
