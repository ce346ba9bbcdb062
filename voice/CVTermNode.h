#pragma once
// One phone member: its terminal id, its name and the sound buffer that plays it.
#include <string>

class CVTermNode {
public:
    static constexpr int NO_BUFFER = -1; // the sound output had no buffer left for it

    CVTermNode(std::string terminalId, std::string name, int bufferId)
        : terminalId(std::move(terminalId)), name(std::move(name)), bufferId(bufferId)
    {
    }
    virtual ~CVTermNode() = default;
    CVTermNode(const CVTermNode&) = default;
    CVTermNode& operator=(const CVTermNode&) = default;

    std::string terminalId;
    std::string name;
    int bufferId;
};
