#pragma once
// One control of one line of the first mixer device: found by the line's component type (a
// destination, optionally one of its sources) and the control's type, then read and written as
// an array of 32-bit values. The device is opened with a callback window, which then receives
// MM_MIXM_CONTROL_CHANGE when the value is changed elsewhere.
//
// UI thread only.
#include "MixerFunctions.h"

#include <memory>

class CMixerBase {
public:
    // As the source type: no source line, the control belongs to the destination line itself
    // (one past the last source component type).
    static constexpr DWORD NO_SOURCE = 0x100b;

    CMixerBase();
    virtual ~CMixerBase();
    CMixerBase(const CMixerBase&) = delete;
    CMixerBase& operator=(const CMixerBase&) = delete;

    // Opens device 0 (closing what an earlier call opened) and finds the control. False, and
    // closed, when any step fails.
    virtual bool Init(DWORD destinationType, DWORD sourceType, DWORD controlType, HWND callbackWindow);
    // Writes the value array; false when closed or the device refuses.
    bool SetMixerControlValue();
    // Reads the value array; false when closed or the device refuses, and the array is as it was.
    bool GetMixerControlValue();
    // Closes the handle if open and frees the value array.
    void Close();

    bool isOpen() const { return m_hMixer != nullptr; }
    // What MM_MIXM_CONTROL_CHANGE names: the handle (wParam) and the control id (lParam).
    HMIXER getMixerHandle() const { return m_hMixer; }
    DWORD getControlId() const { return m_control.dwControlID; }
    // Values per item: 1 for a control that is uniform over the line's channels.
    DWORD getChannelCount() const { return m_details.cChannels; }
    DWORD getValueCount() const { return m_valueCount; }

protected:
    // items × channels values, the channels of the first item first.
    DWORD* m_values = nullptr;

private:
    bool fail(const char* why);
    bool findLine(DWORD destinationType, DWORD sourceType, MIXERLINEA* line);

    const MixerFunctions* m_functions;
    HMIXER m_hMixer = nullptr;
    MIXERCONTROLA m_control;
    DWORD m_lineChannels = 0;
    MIXERCONTROLDETAILS m_details;
    std::unique_ptr<DWORD[]> m_valueArray;
    DWORD m_valueCount = 0;
};
