#pragma once

// Called by a CClock on the clock's thread each time the listener's interval has run out.
class ITimeListener {
public:
    virtual ~ITimeListener() {}
    // The clock always passes 0.
    virtual void timeElapsed(int value) = 0;
};
