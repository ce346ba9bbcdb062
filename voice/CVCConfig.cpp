#include "CVCConfig.h"

#include "CMyReg.h"
#include "CTrace.h"

#include <string>

const char* const CVCConfig::KEY = "Software\\Keldar Corporation\\Tavelin\\voice";

uint32_t CVCConfig::ComBufChunk = 5;
bool CVCConfig::LocalPlay = false;
uint32_t CVCConfig::MaxNumSecBuffer = 64;
uint32_t CVCConfig::MsecSecBufSize = 2000;
uint32_t CVCConfig::ChunkSecBuffer = 50;
uint32_t CVCConfig::SizeSilenceBuffer = 10000;
bool CVCConfig::SoundOutLoop = true;
bool CVCConfig::VoiceLog = false;
uint32_t CVCConfig::PcmChunkSize = 22050 / 5;
uint32_t CVCConfig::CodecChunkSize = 1625 / 5;

namespace {

uint32_t readOr(const char* name, uint32_t fallback)
{
    uint32_t value = 0;
    return CMyReg::readNumber(CVCConfig::KEY, name, &value) == ERROR_SUCCESS ? value : fallback;
}

// The sizes derived from these divide by them or loop over them: a 0 keeps the default.
uint32_t readPositive(const char* name, uint32_t fallback)
{
    const uint32_t value = readOr(name, fallback);
    if (value != 0)
        return value;
    CTrace::scopedError("CVCConfig", std::string(" \"") + name + "\" 0 rejected, default " + std::to_string(fallback) + " kept.", -1);
    return fallback;
}

bool readFlag(const char* name, bool fallback)
{
    return readOr(name, fallback ? 1 : 0) == 1;
}

// Runs before the program's entry, after the trace facility (CTrace.h's initializer above).
struct Loader {
    Loader() { CVCConfig::reload(); }
} s_loader;

} // namespace

void CVCConfig::reload()
{
    // The codec chunk must be whole 65-byte GSM blocks (1625 / n): only 1, 5 and 25 give that;
    // any other value makes equal peers refuse each other's packets.
    uint32_t chunk = readOr("ComBufChunk", 5);
    if (chunk != 1 && chunk != 5 && chunk != 25) {
        CTrace::scopedError("CVCConfig", " \"ComBufChunk\" " + std::to_string(chunk) + " rejected (not 1, 5 or 25), default 5 kept.", -1);
        chunk = 5;
    }
    ComBufChunk = chunk;
    PcmChunkSize = 22050 / chunk;
    CodecChunkSize = 1625 / chunk;
    LocalPlay = readFlag("LocalPlay", false);
    MaxNumSecBuffer = readPositive("MaxNumSecBuffer", 64);
    MsecSecBufSize = readPositive("MsecSecBufSize", 2000);
    ChunkSecBuffer = readPositive("ChunkSecBuffer", 50);
    SizeSilenceBuffer = readPositive("SizeSilenceBuffer", 10000);
    SoundOutLoop = readFlag("SoundOutLoop", true);
    VoiceLog = readFlag("VoiceLog", false);
}
