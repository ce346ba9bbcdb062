#pragma once
// One DirectPlay player id: what the terminal-player table keeps for each terminal. Never
// travels between terminals.
#include "CJObject.h"

#include <windows.h>
#include <dplay.h>

class CPlayerId : public CJObject {
public:
    explicit CPlayerId(DPID id);

    DPID getId() const { return id_; }

    // Equal to another CPlayerId with the same id, to nothing else (null included).
    bool equals(const CJObject* other) const override;
    bool isEquatable() const override;
    int hashCode() const override;

private:
    DPID id_;
};
