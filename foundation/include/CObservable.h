#pragma once
// Keeps a list of observers (not owned) and tells each of them, in registration order.
#include "CJObject.h"
#include "IObserver.h"

#include <string>
#include <vector>

class CObservable : public CJObject {
public:
    CObservable();
    CObservable(const CObservable&) = delete;
    CObservable& operator=(const CObservable&) = delete;
    ~CObservable() override;

    // Null is ignored; an observer added twice is told twice.
    void addObserver(IObserver* observer);
    // Removes the first entry of the observer, if any.
    void deleteObserver(IObserver* observer);
    void deleteObservers();
    // Calls every observer's update, in order, on a copy of the list taken under this object's
    // monitor and outside it. A change of the list made during the pass (by an observer or by
    // another thread) applies from the next pass: an observer removed meanwhile may still get
    // this pass's call. An exception from one observer ends the pass and reaches the caller.
    void notifyObservers(std::string argument);

private:
    std::vector<IObserver*> observers_;
};
