#pragma once
// The speech codec: captured PCM 11025 Hz -> PCM 8000 Hz -> GSM 6.10 (encoder), or GSM 6.10 ->
// PCM 8000 Hz (decoder), over two ACM streams whose headers are prepared once at open.
#include "AcmFunctions.h"
#include "CByteBlock.h"

#include <cstddef>

class CHvxc {
public:
    CHvxc();
    virtual ~CHvxc();
    CHvxc(const CHvxc&) = delete;
    CHvxc& operator=(const CHvxc&) = delete;

    HRESULT OpenEncoder(size_t inputSize);
    HRESULT OpenDecoder(size_t inputSize);
    // Only inputs of the size given at open: the prepared headers point at these buffers.
    HRESULT SetEncoderInput(const void* data, size_t length);
    HRESULT SetDecoderInput(const void* data, size_t length);
    HRESULT Convert();
    HRESULT Decode();
    HRESULT GetEncoderOutput(const unsigned char** data, size_t* length) const;
    HRESULT GetDecoderOutput(const unsigned char** data, size_t* length) const;
    HRESULT Close();

    size_t midSize() const { return midSize_; }
    size_t outSize() const { return outSize_; }

    // The wave format records, filled by hand (the ACM cannot suggest PCM -> GSM here).
    const WAVEFORMATEX& capturePcmFormat() const { return *capturePcm_; }
    const WAVEFORMATEX& pcm8Format() const { return *pcm8_; }
    const WAVEFORMATEX& gsmFormat() const { return *gsm_; }

private:
    HRESULT openStream(HACMSTREAM* stream, const WAVEFORMATEX* from, const WAVEFORMATEX* to);
    bool prepare(HACMSTREAM stream, ACMSTREAMHEADER* header, CByteBlock& from, size_t fromLength, CByteBlock& to,
                 size_t toLength);
    HRESULT setInput(CByteBlock& block, const void* data, size_t length);

    const AcmFunctions& acm_;
    WAVEFORMATEX* capturePcm_;
    WAVEFORMATEX* pcm8_;
    WAVEFORMATEX* gsm_; // with 2 extra bytes: samples per block
    HACMSTREAM streamA_ = nullptr;
    HACMSTREAM streamB_ = nullptr;
    ACMSTREAMHEADER headerA_;
    ACMSTREAMHEADER headerB_;
    bool preparedA_ = false;
    bool preparedB_ = false;
    bool encoder_ = false;
    size_t inputSize_ = 0;
    size_t midSize_ = 0;
    size_t outSize_ = 0;
    CByteBlock in_;
    CByteBlock mid_;
    CByteBlock codec_;
    bool firstConversion_ = true;
};
