#include "CObservable.h"

#include "CMonitorHold.h"

#include <algorithm>

namespace {

const char SCOPE[] = "Observable";

enum Site {
    SITE_ADD = 1,
    SITE_DELETE,
    SITE_DELETE_ALL,
    SITE_NOTIFY,
};

} // namespace

CObservable::CObservable() {}

CObservable::~CObservable() {}

void CObservable::addObserver(IObserver* observer)
{
    CTrace::trace(SCOPE, " addObserver()", 0);
    if (observer == nullptr)
        return;
    CMonitorHold hold(*this, SITE_ADD, SCOPE);
    observers_.push_back(observer);
}

void CObservable::deleteObserver(IObserver* observer)
{
    CTrace::trace(SCOPE, " deleteObserver()", 0);
    if (observer == nullptr)
        return;
    CMonitorHold hold(*this, SITE_DELETE, SCOPE);
    auto found = std::find(observers_.begin(), observers_.end(), observer);
    if (found != observers_.end())
        observers_.erase(found);
}

void CObservable::deleteObservers()
{
    CTrace::trace(SCOPE, " deleteObservers()", 0);
    CMonitorHold hold(*this, SITE_DELETE_ALL, SCOPE);
    observers_.clear();
}

void CObservable::notifyObservers(std::string argument)
{
    CTrace::trace(SCOPE, " notifyObservers() [" + argument + "]", 0);
    // Observers are called on a copy taken under the monitor and outside it: an observer that
    // waits for another thread must not find that thread stopped at this list.
    std::vector<IObserver*> pass;
    {
        CMonitorHold hold(*this, SITE_NOTIFY, SCOPE);
        pass = observers_;
    }
    for (IObserver* observer : pass)
        observer->update(this, argument);
}
