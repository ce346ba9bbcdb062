#pragma once
// The elements plugged into one session handle, by element id, oldest first (not owned).
// No lock of its own: the handle holds its session lock around every call, so that its
// open/closing checks and the filing stay one step. Plugging out happens outside that lock,
// since it waits for the element's handler thread: take() only unfiles.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class CElement;
class CProxyElement;
class IMessageSource;

class CPluggedElements {
public:
    // scope: the owning handle's name for the trace lines.
    explicit CPluggedElements(const char* scope) : scope_(scope) {}

    // Plugs the element into the session and files it. CIllegalArgumentException (nothing
    // done) when an element of its id is filed already.
    void plugIn(CElement* element, const std::string& terminalId, IMessageSource* source, CProxyElement* proxy,
                const std::string& sessionName);
    // Unfiles the element and returns it for the caller to plug out; CIllegalArgumentException
    // when no element of that id is filed.
    CElement* take(const std::string& elementId);

    bool contains(const std::string& elementId) const;
    std::vector<std::string> ids() const;
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    const char* scope_;
    std::vector<std::pair<std::string, CElement*>> entries_;
};
