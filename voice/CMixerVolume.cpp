#include "CMixerVolume.h"

#include "CTrace.h"

#include <algorithm>

namespace {
const char SCOPE[] = "CMixerVolume";
const DWORD MAX_VOLUME = 65535;
}

CMixerVolume::CMixerVolume() = default;

CMixerVolume::~CMixerVolume() = default;

bool CMixerVolume::Init(DWORD destinationType, DWORD sourceType, DWORD controlType, HWND callbackWindow)
{
    m_channelValues = nullptr;
    if (!CMixerBase::Init(destinationType, sourceType, controlType, callbackWindow))
        return false;
    m_channelValues = m_values;
    GetMixerControlValue();
    return true;
}

DWORD CMixerVolume::GetVolume()
{
    if (!isOpen() || m_channelValues == nullptr)
        return 0;
    if (!GetMixerControlValue())
        CTrace::scopedWarning(SCOPE, " GetVolume: the control cannot be read");
    if (getChannelCount() < 2)
        return m_channelValues[0];
    const DWORD left = m_channelValues[0];
    const DWORD right = m_channelValues[1];
    const DWORD volume = std::max(left, right);
    if (volume > 0)
        m_balance = (static_cast<float>(right) - static_cast<float>(left)) / static_cast<float>(volume);
    return volume;
}

void CMixerVolume::SetVolume(DWORD volume)
{
    if (!isOpen() || m_channelValues == nullptr)
        return;
    volume = std::min(volume, MAX_VOLUME);
    if (getChannelCount() < 2) {
        m_channelValues[0] = volume;
    } else if (m_balance <= 0.0f) {
        m_channelValues[0] = volume;
        m_channelValues[1] = static_cast<DWORD>(static_cast<float>(volume) * (1.0f + m_balance));
    } else {
        m_channelValues[1] = volume;
        m_channelValues[0] = static_cast<DWORD>(static_cast<float>(volume) * (1.0f - m_balance));
    }
    if (!SetMixerControlValue())
        CTrace::scopedWarning(SCOPE, " SetVolume: the control cannot be written");
}
