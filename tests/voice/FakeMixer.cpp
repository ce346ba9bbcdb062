#include "FakeMixer.h"

#include <cstring>

FakeMixer* FakeMixer::active = nullptr;

namespace {

// Line ids: destination index × 0x100, plus 1 + the source index for a source.
DWORD lineId(DWORD destination, DWORD source, bool isSource)
{
    return destination * 0x100 + (isSource ? source + 1 : 0);
}

UINT WINAPI getNumDevs()
{
    return FakeMixer::active->devices;
}

MMRESULT WINAPI open(LPHMIXER mixer, UINT device, DWORD_PTR callback, DWORD_PTR, DWORD flags)
{
    FakeMixer& fake = *FakeMixer::active;
    if (fake.failing == FakeMixer::OPEN || device != 0 || (flags & CALLBACK_TYPEMASK) != CALLBACK_WINDOW)
        return MMSYSERR_ERROR;
    fake.calls.push_back("open " + std::to_string(callback));
    *mixer = fake.handle();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI getDevCaps(UINT_PTR, LPMIXERCAPSA caps, UINT size)
{
    FakeMixer& fake = *FakeMixer::active;
    if (fake.failing == FakeMixer::CAPS || size < sizeof *caps)
        return MMSYSERR_ERROR;
    std::memset(caps, 0, size);
    caps->cDestinations = static_cast<DWORD>(fake.destinations.size());
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI getLineInfo(HMIXEROBJ object, LPMIXERLINEA line, DWORD flags)
{
    FakeMixer& fake = *FakeMixer::active;
    if (reinterpret_cast<HMIXER>(object) != fake.handle())
        return MMSYSERR_INVALHANDLE;
    const DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
    const FakeMixerLine* found = nullptr;
    bool isSource = false;
    if (query == MIXER_GETLINEINFOF_DESTINATION) {
        if (fake.failing == FakeMixer::DESTINATION_INFO || line->dwDestination >= fake.destinations.size())
            return MIXERR_INVALLINE;
        found = &fake.destinations[line->dwDestination];
    } else if (query == MIXER_GETLINEINFOF_SOURCE) {
        if (fake.failing == FakeMixer::SOURCE_INFO || line->dwDestination >= fake.destinations.size() ||
            line->dwSource >= fake.destinations[line->dwDestination].sources.size())
            return MIXERR_INVALLINE;
        found = &fake.destinations[line->dwDestination].sources[line->dwSource];
        isSource = true;
    } else {
        return MMSYSERR_INVALFLAG;
    }
    line->dwLineID = lineId(line->dwDestination, line->dwSource, isSource);
    line->dwComponentType = found->componentType;
    line->cChannels = found->channels;
    line->cControls = found->controls;
    line->cConnections = isSource ? 0 : static_cast<DWORD>(found->sources.size());
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI getLineControls(HMIXEROBJ object, LPMIXERLINECONTROLSA controls, DWORD flags)
{
    FakeMixer& fake = *FakeMixer::active;
    if (reinterpret_cast<HMIXER>(object) != fake.handle() ||
        (flags & MIXER_GETLINECONTROLSF_QUERYMASK) != MIXER_GETLINECONTROLSF_ONEBYTYPE)
        return MMSYSERR_INVALFLAG;
    const DWORD id = controls->dwLineID;
    fake.calls.push_back("controls of line " + std::to_string(id / 0x100) +
                         (id % 0x100 ? "." + std::to_string(id % 0x100 - 1) : std::string()));
    if (fake.failing == FakeMixer::LINE_CONTROLS || controls->dwControlType != fake.controlType ||
        controls->cControls != 1 || controls->cbmxctrl < sizeof(MIXERCONTROLA))
        return MIXERR_INVALCONTROL;
    MIXERCONTROLA& control = *controls->pamxctrl;
    std::memset(&control, 0, sizeof control);
    control.cbStruct = sizeof control;
    control.dwControlID = FakeMixer::CONTROL_ID;
    control.dwControlType = fake.controlType;
    control.fdwControl = fake.controlFlags;
    control.cMultipleItems = fake.multipleItems;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI getControlDetails(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD)
{
    FakeMixer& fake = *FakeMixer::active;
    fake.calls.push_back("get");
    fake.lastDetails = *details;
    if (reinterpret_cast<HMIXER>(object) != fake.handle() || details->dwControlID != FakeMixer::CONTROL_ID)
        return MIXERR_INVALCONTROL;
    DWORD* out = static_cast<DWORD*>(details->paDetails);
    const DWORD count = details->cChannels * (details->cMultipleItems ? details->cMultipleItems : 1);
    for (DWORD i = 0; i < count; ++i)
        out[i] = fake.failing == FakeMixer::GET_DETAILS ? 0xDEAD : (i < fake.values.size() ? fake.values[i] : 0);
    return fake.failing == FakeMixer::GET_DETAILS ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
}

MMRESULT WINAPI setControlDetails(HMIXEROBJ object, LPMIXERCONTROLDETAILS details, DWORD)
{
    FakeMixer& fake = *FakeMixer::active;
    fake.lastDetails = *details;
    if (reinterpret_cast<HMIXER>(object) != fake.handle() || details->dwControlID != FakeMixer::CONTROL_ID)
        return MIXERR_INVALCONTROL;
    const DWORD* in = static_cast<const DWORD*>(details->paDetails);
    const DWORD count = details->cChannels * (details->cMultipleItems ? details->cMultipleItems : 1);
    std::string call = "set";
    for (DWORD i = 0; i < count; ++i)
        call += " " + std::to_string(in[i]);
    fake.calls.push_back(call);
    if (fake.failing == FakeMixer::SET_DETAILS)
        return MMSYSERR_ERROR;
    fake.values.assign(in, in + count);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI close(HMIXER mixer)
{
    FakeMixer& fake = *FakeMixer::active;
    if (mixer != fake.handle())
        return MMSYSERR_INVALHANDLE;
    fake.calls.push_back("close");
    return MMSYSERR_NOERROR;
}

} // namespace

const MixerFunctions FakeMixer::table = {getNumDevs,      open,           getDevCaps,        getLineInfo,
                                         getLineControls, getControlDetails, setControlDetails, close};

FakeMixer::FakeMixer()
{
    active = this;
    MixerFunctions::use(&table);
}

FakeMixer::~FakeMixer()
{
    MixerFunctions::use(nullptr);
    active = nullptr;
}

HMIXER FakeMixer::handle() const
{
    return reinterpret_cast<HMIXER>(static_cast<UINT_PTR>(0x4D1));
}
