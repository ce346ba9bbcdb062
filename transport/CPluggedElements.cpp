#include "CPluggedElements.h"

#include "CElement.h"
#include "CIllegalArgumentException.h"
#include "CTrace.h"

void CPluggedElements::plugIn(CElement* element, const std::string& terminalId, IMessageSource* source,
                              CProxyElement* proxy, const std::string& sessionName)
{
    std::string id = element->getElementId();
    if (contains(id))
        throw CIllegalArgumentException(" plugIn(): [" + id + "] is plugged in already");
    CTrace::trace(scope_, " plugIn(): [" + id + "] is plugged in", 0);
    element->plugIn(terminalId, source, proxy, sessionName);
    entries_.emplace_back(id, element);
    CTrace::trace(scope_, " plugIn(): [" + id + "] is entered in PEM", 0);
}

CElement* CPluggedElements::take(const std::string& elementId)
{
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->first == elementId) {
            CElement* element = entry->second;
            entries_.erase(entry);
            return element;
        }
    }
    throw CIllegalArgumentException(" plugOut(): [" + elementId + "] is not plugged in");
}

bool CPluggedElements::contains(const std::string& elementId) const
{
    for (auto& entry : entries_)
        if (entry.first == elementId)
            return true;
    return false;
}

std::vector<std::string> CPluggedElements::ids() const
{
    std::vector<std::string> ids;
    for (auto& entry : entries_)
        ids.push_back(entry.first);
    return ids;
}
