#pragma once
// Keeps message listeners by name. Entering and removing a name never creates or destroys a
// listener.
#include <string>

class IMessageListener;

class IMessageSource {
public:
    virtual ~IMessageSource() {}
    virtual void addListener(const std::string& name, IMessageListener* listener) = 0;
    virtual void removeListener(const std::string& name) = 0;
};
