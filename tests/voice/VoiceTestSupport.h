#pragma once
// Shared by the voice tests: private registry hives for CMyReg, and a tone meter.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Two fresh keys under HKCU standing in for the user's and the machine's hive, for the
// object's life; the voice settings are read again from them by reload().
class PrivateHives {
public:
    PrivateHives();
    ~PrivateHives();
    PrivateHives(const PrivateHives&) = delete;
    PrivateHives& operator=(const PrivateHives&) = delete;

    // hive 0: user, 1: machine; the value under the voice key.
    void setNumber(int hive, const char* name, DWORD value);
    void setText(int hive, const char* name, const char* text);
    HKEY root(int hive) const { return roots_[hive]; }
    // Re-reads the voice settings from these hives.
    void reload();

private:
    std::string path_;
    HKEY roots_[2] = {nullptr, nullptr};
};

// 16-bit mono PCM samples of a sine.
std::vector<int16_t> tone(double frequency, double amplitude, int rate, size_t samples);
std::vector<unsigned char> toBytes(const std::vector<int16_t>& samples);
std::vector<int16_t> toSamples(const unsigned char* bytes, size_t length);
// Amplitude of one frequency over samples (Goertzel): a sine of amplitude A reads A when the
// window holds whole periods.
double amplitudeAt(const std::vector<int16_t>& samples, size_t from, size_t count, double frequency, int rate);
