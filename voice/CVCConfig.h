#pragma once
// The voice engine's tuning values: read from the registry (user over machine) once, during
// static initialisation, and never written back.
#include <cstdint>

class CVCConfig {
public:
    virtual ~CVCConfig() = default;

    static const char* const KEY; // "Software\Keldar Corporation\Tavelin\voice"

    static uint32_t ComBufChunk;       // chunks per second
    static bool LocalPlay;             // also play the own microphone on buffer 0
    static uint32_t MaxNumSecBuffer;   // most secondary buffers of one sound output
    static uint32_t MsecSecBufSize;    // length of a secondary buffer, ms
    static uint32_t ChunkSecBuffer;    // notification positions per secondary buffer
    static uint32_t SizeSilenceBuffer; // bytes of the silence block
    static bool SoundOutLoop;          // secondary buffers loop, padded with silence
    static bool VoiceLog;              // WAV dumps of every stream

    // Derived from ComBufChunk right after it is read.
    static uint32_t PcmChunkSize;   // 22050 / ComBufChunk: capture bytes per chunk
    static uint32_t CodecChunkSize; // 1625 / ComBufChunk: GSM bytes per chunk

    // Reads every value again, in the table's order ("ComBufChunk" first). Static
    // initialisation calls it once; tests call it after changing the registry.
    static void reload();
};
