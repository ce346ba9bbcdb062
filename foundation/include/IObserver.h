#pragma once
#include <string>

class CObservable;

// Told by a CObservable, on the thread that notifies, under the observable's monitor.
class IObserver {
public:
    virtual ~IObserver() {}
    virtual void update(CObservable* source, std::string argument) = 0;
};
