#pragma once
// A mixer volume control as one 16-bit volume for both channels: the louder channel is the
// volume, and the left/right balance the device reports is kept when the volume is set.
// Without a device (Init failed) the volume reads 0 and setting it does nothing.
#include "CMixerBase.h"

class CMixerVolume : public CMixerBase {
public:
    CMixerVolume();
    ~CMixerVolume() override;

    // The base's Init, then the current value is read.
    bool Init(DWORD destinationType, DWORD sourceType, DWORD controlType, HWND callbackWindow) override;
    // Reads the control; with two channels or more also learns the balance.
    DWORD GetVolume();
    // Clamped to 65535; the channels keep the balance last read.
    void SetVolume(DWORD volume);
    // −1 (left only) .. 1 (right only); 0 until a stereo value is read.
    float getBalance() const { return m_balance; }

private:
    // The value array seen as channel values, left first.
    DWORD* m_channelValues = nullptr;
    float m_balance = 0.0f;
};
