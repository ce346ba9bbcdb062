#pragma once
// A scripted mixer device behind the mixer function table, for the life of the object: lines,
// one control per line, the control's values, a failure at any step, and a journal of the calls
// that change something (open, close, set) with the values written.
#include "MixerFunctions.h"

#include <string>
#include <vector>

struct FakeMixerLine {
    DWORD componentType;
    DWORD channels;
    DWORD controls;                       // how many the line says it has
    std::vector<FakeMixerLine> sources;   // of a destination
};

class FakeMixer {
public:
    // Steps that can be made to fail.
    enum Step { NONE, OPEN, CAPS, DESTINATION_INFO, SOURCE_INFO, LINE_CONTROLS, GET_DETAILS, SET_DETAILS };

    FakeMixer();
    ~FakeMixer();
    FakeMixer(const FakeMixer&) = delete;
    FakeMixer& operator=(const FakeMixer&) = delete;

    DWORD devices = 1;
    std::vector<FakeMixerLine> destinations;
    // The control every line has, of this type; a request for another type fails.
    DWORD controlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    DWORD controlFlags = 0;
    DWORD multipleItems = 0;
    // The value array as the device holds it.
    std::vector<DWORD> values;
    Step failing = NONE;

    // "open 7" (the window), "close", "set 40000 20000", "get"; and the line the control was
    // asked of: "controls of line D" or "controls of line D.S".
    std::vector<std::string> calls;
    // The details of the last get or set.
    MIXERCONTROLDETAILS lastDetails = {};
    static constexpr DWORD CONTROL_ID = 0x51;
    HMIXER handle() const;

    // The current fake, for the table's functions.
    static FakeMixer* active;

private:
    static const MixerFunctions table;
};
