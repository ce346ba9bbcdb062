#include "CHvxc.h"

#include "CTrace.h"

#include <cstring>
#include <string>

namespace {

const char SCOPE[] = "CHvxc";
const DWORD GSM610_TAG = 0x31;

WAVEFORMATEX* pcmFormat(DWORD rate)
{
    auto* format = new WAVEFORMATEX();
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = 1;
    format->nSamplesPerSec = rate;
    format->nAvgBytesPerSec = rate * 2;
    format->nBlockAlign = 2;
    format->wBitsPerSample = 16;
    format->cbSize = 0;
    return format;
}

} // namespace

CHvxc::CHvxc() : acm_(AcmFunctions::current()), capturePcm_(pcmFormat(11025)), pcm8_(pcmFormat(8000))
{
    // WAVEFORMATEX followed by the GSM record's one extra word: 320 samples per block.
    auto* bytes = new unsigned char[sizeof(WAVEFORMATEX) + 2]();
    gsm_ = reinterpret_cast<WAVEFORMATEX*>(bytes);
    gsm_->wFormatTag = GSM610_TAG;
    gsm_->nChannels = 1;
    gsm_->nSamplesPerSec = 8000;
    gsm_->nAvgBytesPerSec = 1625;
    gsm_->nBlockAlign = 65;
    gsm_->wBitsPerSample = 0;
    gsm_->cbSize = 2;
    const WORD samplesPerBlock = 320;
    std::memcpy(bytes + sizeof(WAVEFORMATEX), &samplesPerBlock, 2);
    std::memset(&headerA_, 0, sizeof headerA_);
    std::memset(&headerB_, 0, sizeof headerB_);
}

CHvxc::~CHvxc()
{
    // The prepared headers point into the buffers freed below.
    Close();
    delete capturePcm_;
    delete pcm8_;
    delete[] reinterpret_cast<unsigned char*>(gsm_);
}

HRESULT CHvxc::openStream(HACMSTREAM* stream, const WAVEFORMATEX* from, const WAVEFORMATEX* to)
{
    *stream = nullptr;
    acm_.open(stream, nullptr, const_cast<WAVEFORMATEX*>(from), const_cast<WAVEFORMATEX*>(to), nullptr, 0, 0,
              ACM_STREAMOPENF_NONREALTIME);
    if (*stream == nullptr) {
        CTrace::scopedError(SCOPE, " ACM stream creation failed.", -1);
        return E_FAIL;
    }
    return S_OK;
}

bool CHvxc::prepare(HACMSTREAM stream, ACMSTREAMHEADER* header, CByteBlock& from, size_t fromLength, CByteBlock& to,
                    size_t toLength)
{
    std::memset(header, 0, sizeof *header);
    header->cbStruct = sizeof *header;
    header->pbSrc = from.data();
    header->cbSrcLength = DWORD(fromLength);
    header->pbDst = to.data();
    header->cbDstLength = DWORD(toLength);
    return acm_.prepare(stream, header, 0) == MMSYSERR_NOERROR;
}

HRESULT CHvxc::OpenEncoder(size_t inputSize)
{
    encoder_ = true;
    if (openStream(&streamA_, capturePcm_, pcm8_) != S_OK || openStream(&streamB_, pcm8_, gsm_) != S_OK)
        return E_FAIL;
    DWORD mid = 0;
    DWORD out = 0;
    acm_.size(streamA_, DWORD(inputSize), &mid, ACM_STREAMSIZEF_SOURCE);
    acm_.size(streamB_, mid, &out, ACM_STREAMSIZEF_SOURCE);
    if (mid_.reserve(mid) != S_OK || in_.reserve(inputSize) != S_OK || codec_.reserve(out) != S_OK)
        return E_FAIL;
    inputSize_ = inputSize;
    midSize_ = mid;
    outSize_ = out;

    preparedA_ = prepare(streamA_, &headerA_, in_, inputSize, mid_, mid);
    preparedB_ = prepare(streamB_, &headerB_, mid_, mid, codec_, out);
    return S_OK;
}

HRESULT CHvxc::OpenDecoder(size_t inputSize)
{
    encoder_ = false;
    if (openStream(&streamA_, gsm_, pcm8_) != S_OK)
        return E_FAIL;
    DWORD mid = 0;
    acm_.size(streamA_, DWORD(inputSize), &mid, ACM_STREAMSIZEF_SOURCE);
    if (codec_.reserve(inputSize) != S_OK || mid_.reserve(mid) != S_OK)
        return E_FAIL;
    inputSize_ = inputSize;
    midSize_ = mid;

    preparedA_ = prepare(streamA_, &headerA_, codec_, inputSize, mid_, mid);
    return S_OK;
}

HRESULT CHvxc::setInput(CByteBlock& block, const void* data, size_t length)
{
    // Growing the block would leave the prepared header pointing at freed storage, and a
    // shorter input would convert stale bytes: only the size given at open is taken.
    if (inputSize_ == 0 || length != inputSize_ || data == nullptr) {
        CTrace::scopedError(SCOPE, " Input of " + std::to_string(length) + " bytes refused (the stream converts " +
                                       std::to_string(inputSize_) + ").",
                            -1);
        return E_FAIL;
    }
    std::memcpy(block.data(), data, length);
    block.setUsed(length);
    return S_OK;
}

HRESULT CHvxc::SetEncoderInput(const void* data, size_t length)
{
    if (!encoder_)
        return E_FAIL;
    return setInput(in_, data, length);
}

HRESULT CHvxc::SetDecoderInput(const void* data, size_t length)
{
    if (encoder_)
        return E_FAIL;
    return setInput(codec_, data, length);
}

HRESULT CHvxc::Convert()
{
    if (!encoder_ || !preparedA_ || !preparedB_)
        return E_FAIL;
    const DWORD flags = firstConversion_ ? ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_BLOCKALIGN
                                         : ACM_STREAMCONVERTF_BLOCKALIGN;
    firstConversion_ = false;
    if (acm_.convert(streamA_, &headerA_, flags) != MMSYSERR_NOERROR) {
        CTrace::scopedError(SCOPE, " Conversion to 8000 Hz failed.", -1);
        return E_FAIL;
    }
    mid_.setUsed(midSize_);
    if (acm_.convert(streamB_, &headerB_, flags) != MMSYSERR_NOERROR) {
        CTrace::scopedError(SCOPE, " Encoding failed.", -1);
        return E_FAIL;
    }
    codec_.setUsed(outSize_);
    return S_OK;
}

HRESULT CHvxc::Decode()
{
    if (encoder_ || !preparedA_)
        return E_FAIL;
    if (acm_.convert(streamA_, &headerA_, 0) != MMSYSERR_NOERROR) {
        CTrace::scopedError(SCOPE, " Decoding failed.", -1);
        return E_FAIL;
    }
    mid_.setUsed(midSize_);
    return S_OK;
}

HRESULT CHvxc::GetEncoderOutput(const unsigned char** data, size_t* length) const
{
    *data = codec_.data();
    *length = codec_.used();
    return S_OK;
}

HRESULT CHvxc::GetDecoderOutput(const unsigned char** data, size_t* length) const
{
    *data = mid_.data();
    *length = mid_.used();
    return S_OK;
}

HRESULT CHvxc::Close()
{
    if (preparedA_ || streamA_ != nullptr) {
        if (preparedA_)
            acm_.unprepare(streamA_, &headerA_, 0);
        if (streamA_ != nullptr)
            acm_.close(streamA_, 0);
    }
    if (preparedB_ || streamB_ != nullptr) {
        if (preparedB_)
            acm_.unprepare(streamB_, &headerB_, 0);
        if (streamB_ != nullptr)
            acm_.close(streamB_, 0);
    }
    streamA_ = streamB_ = nullptr;
    preparedA_ = preparedB_ = false;
    inputSize_ = 0;
    return S_OK;
}
