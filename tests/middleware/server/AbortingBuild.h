#pragma once
// The server's build with transfer aborts, as the service has it, selected for the object's
// life; otherwise the build that was selected before (the module's).
#include "CQuarnServerBuild.h"

class AbortingBuild : public CQuarnServerBuild {
public:
    AbortingBuild() : previous_(CQuarnServerBuild::Current()) { CQuarnServerBuild::Select(*this); }
    ~AbortingBuild() override { CQuarnServerBuild::Select(previous_); }

    bool AbortsTransfers() const override { return true; }

private:
    CQuarnServerBuild& previous_;
};
