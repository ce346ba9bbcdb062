#include "CWaveFile.h"

#include <mmsystem.h>

#include <cstring>
#include <new>

// tag, channels, samples/s, bytes/s, block align, bits/sample, extra bytes (, extra), little-endian.
const unsigned char CWaveFile::CODEC_DUMP_FORMAT[20] = {0xFF, 0xFF, 1, 0, 0x40, 0x1F, 0, 0, 250, 0, 0, 0,
                                                        5,    0,    0, 0, 2,    0,    160, 0};
const unsigned char CWaveFile::PCM8_FORMAT[18] = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0, 0, 0};
const unsigned char CWaveFile::PCM11_FORMAT[18] = {1, 0, 1, 0, 0x11, 0x2B, 0, 0, 0x22, 0x56, 0, 0, 2, 0, 16, 0, 0, 0};

CWaveFile::CWaveFile()
    : block_(new (std::nothrow) unsigned char[DATA_LIMIT]), format_(new unsigned char[18]())
{
}

CWaveFile::~CWaveFile()
{
    delete[] block_;
    delete[] format_;
}

HRESULT CWaveFile::Append(const void* data, size_t length)
{
    if (block_ == nullptr || length >= DATA_LIMIT - writePosition_)
        return E_FAIL;
    std::memcpy(block_ + writePosition_, data, length);
    writePosition_ += length;
    dataPointer_ = block_;
    dataLength_ = writePosition_;
    return S_OK;
}

HRESULT CWaveFile::SetFormat(const void* record, size_t size)
{
    if (size != formatSize_) {
        delete[] format_;
        format_ = new unsigned char[size]();
        formatSize_ = size;
    }
    std::memcpy(format_, record, size);
    return S_OK;
}

namespace {

// One chunk: create, write all of it, ascend (which pads an odd size).
bool writeChunk(HMMIO file, FOURCC id, const unsigned char* bytes, size_t size)
{
    MMCKINFO chunk;
    std::memset(&chunk, 0, sizeof chunk);
    chunk.ckid = id;
    return mmioCreateChunk(file, &chunk, 0) == MMSYSERR_NOERROR &&
           mmioWrite(file, reinterpret_cast<const char*>(bytes), LONG(size)) == LONG(size) &&
           mmioAscend(file, &chunk, 0) == MMSYSERR_NOERROR;
}

} // namespace

HRESULT CWaveFile::Save(const char* fileName)
{
    if (dataLength_ == 0)
        return S_OK;
    MMIOINFO info;
    std::memset(&info, 0, sizeof info);
    HMMIO file = mmioOpenA(const_cast<char*>(fileName), &info, MMIO_CREATE | MMIO_WRITE);
    if (file == nullptr)
        return E_FAIL;
    auto fail = [file]() {
        mmioClose(file, 0);
        return E_FAIL;
    };
    MMCKINFO riff;
    std::memset(&riff, 0, sizeof riff);
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    if (mmioCreateChunk(file, &riff, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
        return fail();

    const DWORD length = DWORD(dataLength_);
    const unsigned char fact[4] = {BYTE(length), BYTE(length >> 8), BYTE(length >> 16), BYTE(length >> 24)};
    if (!writeChunk(file, mmioFOURCC('f', 'm', 't', ' '), format_, formatSize_) ||
        !writeChunk(file, mmioFOURCC('f', 'a', 'c', 't'), fact, 4) ||
        !writeChunk(file, mmioFOURCC('d', 'a', 't', 'a'), dataPointer_, dataLength_))
        return fail();
    if (mmioAscend(file, &riff, 0) != MMSYSERR_NOERROR)
        return fail();
    if (mmioFlush(file, 0) != MMSYSERR_NOERROR)
        return fail();
    mmioClose(file, 0);
    return S_OK;
}
