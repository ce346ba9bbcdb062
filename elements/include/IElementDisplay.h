#pragma once
// A window that shows one viewable element. The element calls these operations on its handler
// thread; the window moves the work onto its own thread itself. The texts are the element's
// view values, passed on unchanged.
#include <string>

class CSharedElement;

class IElementDisplay {
public:
    virtual ~IElementDisplay() {}

    // The element shown, or null when the element leaves its session.
    virtual void setEntity(CSharedElement* entity) = 0;
    virtual void setLocation(const std::string& location) = 0;
    virtual void setSize(const std::string& size) = 0;
    virtual void startMotion() = 0;
    virtual void stopMotion() = 0;
    virtual void setMotion(const std::string& motion) = 0;
    virtual void setDecoration(const std::string& decoration) = 0;
    virtual void setAttribute(const std::string& attribute) = 0;
    virtual void setViewId(const std::string& viewId) = 0;
    // The picture's pixel rows and size; the window copies the bytes before it returns.
    virtual void setViewData(unsigned size, const unsigned char* data, int width, int height) = 0;
};
