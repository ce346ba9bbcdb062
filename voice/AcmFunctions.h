#pragma once
// The Audio Compression Manager calls the codec makes, as a table: production points at
// msacm32; tests wrap the real calls to record flags or make one fail.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

struct AcmFunctions {
    decltype(&acmStreamOpen) open;
    decltype(&acmStreamSize) size;
    decltype(&acmStreamPrepareHeader) prepare;
    decltype(&acmStreamConvert) convert;
    decltype(&acmStreamUnprepareHeader) unprepare;
    decltype(&acmStreamClose) close;

    static const AcmFunctions& system();
    // The table codecs made from now on use; null restores the system's.
    static void use(const AcmFunctions* table);
    static const AcmFunctions& current();
};
