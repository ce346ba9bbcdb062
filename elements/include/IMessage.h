#pragma once
// One message between elements, as every part but its maker sees it. A message has exactly one
// holder at a time and is given up once, through release(), by its last holder.
#include <string>

class IMessage {
public:
    virtual ~IMessage() {}
    // Gives the message up; this form destroys it.
    virtual void releaseImpl() { delete this; }

    virtual const std::string& getRecTermId() const = 0;
    virtual const std::string& getRecElemId() const = 0;
    virtual const std::string& getSndTermId() const = 0;
    virtual const std::string& getSndElemId() const = 0;
    virtual unsigned char getModifier() const = 0;
    virtual unsigned getSerialNum() const = 0;
    virtual void setRecTermId(const std::string& id) = 0;
    virtual void setRecElemId(const std::string& id) = 0;
    virtual void setSndTermId(const std::string& id) = 0;
    virtual void setSndElemId(const std::string& id) = 0;
    virtual void setModifier(unsigned char modifier) = 0;
    virtual void setSerialNum(unsigned serialNum) = 0;
    virtual void markBroken() = 0;
    virtual bool isBroken() const = 0;
    virtual std::string toString() const = 0;

    // The usual way to give a message up; NULL is ignored.
    static void release(IMessage* message)
    {
        if (message != nullptr)
            message->releaseImpl();
    }
};
