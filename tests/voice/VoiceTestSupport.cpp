#include "VoiceTestSupport.h"

#include "CMyReg.h"
#include "CVCConfig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

namespace {
const double PI = 3.14159265358979323846;
}

namespace {
std::atomic<int> g_serial{0};
}

PrivateHives::PrivateHives()
{
    path_ = "Software\\TavelinTests\\voice-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount()) + "-" + std::to_string(g_serial++);
    const char* names[2] = {"\\user", "\\machine"};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path_ + names[i]).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &roots_[i], nullptr),
                  ERROR_SUCCESS);
    }
    CMyReg::setHives(roots_[0], roots_[1]);
}

PrivateHives::~PrivateHives()
{
    CMyReg::resetHives();
    for (HKEY key : roots_) {
        if (key != nullptr)
            RegCloseKey(key);
    }
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    // Later tests see the settings of the real hives again.
    CVCConfig::reload();
}

void PrivateHives::setNumber(int hive, const char* name, DWORD value)
{
    ASSERT_EQ(RegSetKeyValueA(roots_[hive], CVCConfig::KEY, name, REG_DWORD, &value, sizeof value), ERROR_SUCCESS);
}

void PrivateHives::setText(int hive, const char* name, const char* text)
{
    ASSERT_EQ(RegSetKeyValueA(roots_[hive], CVCConfig::KEY, name, REG_SZ, text, DWORD(strlen(text) + 1)),
              ERROR_SUCCESS);
}

void PrivateHives::reload()
{
    CVCConfig::reload();
}

std::vector<int16_t> tone(double frequency, double amplitude, int rate, size_t samples)
{
    std::vector<int16_t> out(samples);
    for (size_t i = 0; i < samples; ++i)
        out[i] = int16_t(std::lround(amplitude * std::sin(2 * PI * frequency * double(i) / rate)));
    return out;
}

std::vector<unsigned char> toBytes(const std::vector<int16_t>& samples)
{
    std::vector<unsigned char> out(samples.size() * 2);
    memcpy(out.data(), samples.data(), out.size());
    return out;
}

std::vector<int16_t> toSamples(const unsigned char* bytes, size_t length)
{
    std::vector<int16_t> out(length / 2);
    memcpy(out.data(), bytes, out.size() * 2);
    return out;
}

double amplitudeAt(const std::vector<int16_t>& samples, size_t from, size_t count, double frequency, int rate)
{
    const double w = 2 * PI * frequency / rate;
    const double c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + count && i < samples.size(); ++i) {
        const double s0 = samples[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(count);
}
