#pragma once
// A debug dump: audio bytes collected in memory, written at the end as a RIFF "WAVE" file.
#include <windows.h>

#include <cstddef>

class CWaveFile {
public:
    static constexpr size_t DATA_LIMIT = 10000000; // the whole block, allocated at construction

    // The three records of the voice streams (wave format layout, packed).
    static const unsigned char CODEC_DUMP_FORMAT[20];
    static const unsigned char PCM8_FORMAT[18];
    static const unsigned char PCM11_FORMAT[18];

    CWaveFile();
    virtual ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // Refused whole (0x80004005) when the held bytes would reach DATA_LIMIT.
    HRESULT Append(const void* data, size_t length);
    HRESULT SetFormat(const void* record, size_t size);
    // Nothing written (result 0) when nothing was appended.
    HRESULT Save(const char* fileName);

    size_t length() const { return dataLength_; }
    const unsigned char* data() const { return dataPointer_; }

private:
    unsigned char* block_;
    size_t writePosition_ = 0;
    const unsigned char* dataPointer_ = nullptr;
    size_t dataLength_ = 0;
    unsigned char* format_;
    size_t formatSize_ = 18;
};
