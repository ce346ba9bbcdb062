#pragma once
// What the GUI may ask of the session logic.
class ILogicHandle {
public:
    virtual ~ILogicHandle() = default;
    // Shuts the sessions and elements down; returns when they are.
    virtual void terminate() = 0;
};
