#include "PanelGui.h"

#include "CHvxcOut.h"

CHvxcOut* fakePlayback()
{
    return new CHvxcOut(nullptr);
}
