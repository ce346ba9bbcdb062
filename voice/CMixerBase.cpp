#include "CMixerBase.h"

#include "CTrace.h"

#include <cstring>
#include <new>
#include <string>

namespace {
const char SCOPE[] = "CMixerBase";
// Values of one control: far above any device's items × channels (a few dozen), so that a
// device that reports absurd counts fails Init instead of making the array huge.
const unsigned long long MAX_VALUES = 0x10000;
}

CMixerBase::CMixerBase() : m_functions(&MixerFunctions::current())
{
    std::memset(&m_control, 0, sizeof m_control);
    std::memset(&m_details, 0, sizeof m_details);
}

CMixerBase::~CMixerBase()
{
    Close();
}

void CMixerBase::Close()
{
    if (m_hMixer != nullptr) {
        m_functions->close(m_hMixer);
        m_hMixer = nullptr;
    }
    m_valueArray.reset();
    m_values = nullptr;
    m_valueCount = 0;
    m_details.paDetails = nullptr;
}

bool CMixerBase::fail(const char* why)
{
    CTrace::scopedWarning(SCOPE, std::string(" Init: ") + why);
    Close();
    return false;
}

bool CMixerBase::findLine(DWORD destinationType, DWORD sourceType, MIXERLINEA* line)
{
    MIXERCAPSA caps;
    std::memset(&caps, 0, sizeof caps);
    if (m_functions->getDevCaps(0, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return false;
    const HMIXEROBJ mixer = reinterpret_cast<HMIXEROBJ>(m_hMixer);
    bool found = false;
    for (DWORD index = 0; index < caps.cDestinations && !found; ++index) {
        std::memset(line, 0, sizeof *line);
        line->cbStruct = sizeof *line;
        line->dwDestination = index;
        if (m_functions->getLineInfo(mixer, line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_DESTINATION) !=
            MMSYSERR_NOERROR)
            return false;
        found = line->dwComponentType == destinationType;
    }
    if (!found || sourceType == NO_SOURCE)
        return found;
    const DWORD destination = line->dwDestination;
    const DWORD connections = line->cConnections;
    for (DWORD index = 0; index < connections; ++index) {
        std::memset(line, 0, sizeof *line);
        line->cbStruct = sizeof *line;
        line->dwDestination = destination;
        line->dwSource = index;
        if (m_functions->getLineInfo(mixer, line, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) !=
            MMSYSERR_NOERROR)
            return false;
        if (line->dwComponentType == sourceType)
            return true;
    }
    return false;
}

bool CMixerBase::Init(DWORD destinationType, DWORD sourceType, DWORD controlType, HWND callbackWindow)
{
    CTrace::trace(SCOPE, " Init", 1);
    if (m_functions->getNumDevs() == 0)
        return fail("no mixer device");
    Close();
    HMIXER handle = nullptr;
    if (m_functions->open(&handle, 0, reinterpret_cast<DWORD_PTR>(callbackWindow), 0,
                          MIXER_OBJECTF_MIXER | CALLBACK_WINDOW) != MMSYSERR_NOERROR)
        return fail("mixerOpen() failed");
    m_hMixer = handle;

    MIXERLINEA line;
    if (!findLine(destinationType, sourceType, &line))
        return fail("no line of that component type");
    m_lineChannels = line.cChannels;
    if (line.cControls == 0)
        return fail("the line has no controls");

    std::memset(&m_control, 0, sizeof m_control);
    MIXERLINECONTROLSA controls;
    std::memset(&controls, 0, sizeof controls);
    controls.cbStruct = sizeof controls;
    controls.dwLineID = line.dwLineID;
    controls.dwControlType = controlType;
    controls.cControls = 1;
    controls.cbmxctrl = sizeof m_control;
    controls.pamxctrl = &m_control;
    if (m_functions->getLineControls(reinterpret_cast<HMIXEROBJ>(m_hMixer), &controls,
                                     MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE) != MMSYSERR_NOERROR)
        return fail("no control of that type");

    std::memset(&m_details, 0, sizeof m_details);
    m_details.cbStruct = sizeof m_details;
    m_details.dwControlID = m_control.dwControlID;
    m_details.cChannels = (m_control.fdwControl & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : m_lineChannels;
    m_details.cMultipleItems = m_control.cMultipleItems;
    m_details.cbDetails = sizeof(DWORD);
    switch (m_control.dwControlType & MIXERCONTROL_CT_UNITS_MASK) {
    case MIXERCONTROL_CT_UNITS_BOOLEAN:
    case MIXERCONTROL_CT_UNITS_SIGNED:
    case MIXERCONTROL_CT_UNITS_UNSIGNED:
    case MIXERCONTROL_CT_UNITS_DECIBELS:
    case MIXERCONTROL_CT_UNITS_PERCENT:
        break;
    default:
        return fail("the control's unit is not a number");
    }
    const DWORD items = (m_control.fdwControl & MIXERCONTROL_CONTROLF_MULTIPLE) ? m_control.cMultipleItems : 1;
    const unsigned long long count = static_cast<unsigned long long>(items) * m_details.cChannels;
    if (count == 0 || count > MAX_VALUES)
        return fail("no room for the control's values");
    m_valueArray.reset(new (std::nothrow) DWORD[count]());
    if (!m_valueArray)
        return fail("no room for the control's values");
    m_values = m_valueArray.get();
    m_valueCount = static_cast<DWORD>(count);
    m_details.paDetails = m_values;
    CTrace::trace(SCOPE, " Init: control " + std::to_string(m_control.dwControlID) + ", " +
                             std::to_string(m_details.cChannels) + " channel(s), " + std::to_string(count) + " value(s)",
                  1);
    return true;
}

bool CMixerBase::SetMixerControlValue()
{
    if (m_hMixer == nullptr || m_values == nullptr)
        return false;
    return m_functions->setControlDetails(reinterpret_cast<HMIXEROBJ>(m_hMixer), &m_details,
                                          MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE) == MMSYSERR_NOERROR;
}

bool CMixerBase::GetMixerControlValue()
{
    if (m_hMixer == nullptr || m_values == nullptr)
        return false;
    // Read beside the array, so that a refused read leaves the values as they were.
    std::unique_ptr<DWORD[]> read(new (std::nothrow) DWORD[m_valueCount]());
    if (!read)
        return false;
    MIXERCONTROLDETAILS details = m_details;
    details.paDetails = read.get();
    if (m_functions->getControlDetails(reinterpret_cast<HMIXEROBJ>(m_hMixer), &details,
                                       MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE) != MMSYSERR_NOERROR)
        return false;
    std::memcpy(m_values, read.get(), m_valueCount * sizeof(DWORD));
    return true;
}
