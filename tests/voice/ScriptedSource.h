#pragma once
// A stand-in for the speech API's audio source: hands out fixture blocks in order, one per
// DataGet, without timing; reports end of stream once stopped and drained.
#include "SpeechAudio.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class ScriptedSource {
public:
    // Made current for the object's life: the source factory hands out this script.
    ScriptedSource();
    ~ScriptedSource();
    ScriptedSource(const ScriptedSource&) = delete;
    ScriptedSource& operator=(const ScriptedSource&) = delete;

    void add(const std::vector<unsigned char>& block);
    size_t pending();
    std::vector<std::string> calls();
    bool failCreate = false;

    std::mutex lock;
    std::deque<std::vector<unsigned char>> blocks;
    std::vector<std::string> journal;
    bool running = false;
};

// 16-bit samples of constant magnitude level (alternating sign), n bytes.
std::vector<unsigned char> levelChunk(int level, size_t bytes);
