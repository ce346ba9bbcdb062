#pragma once
// A message that is not a method call and counts its live instances and releases, to see who
// gives messages up and how often.
#include "IMessage.h"

#include <atomic>
#include <string>

class CountedMessage : public IMessage {
public:
    explicit CountedMessage(const std::string& recElemId, unsigned serialNum = 0)
        : recElemId_(recElemId), serialNum_(serialNum)
    {
        ++live;
    }
    ~CountedMessage() override { --live; }

    void releaseImpl() override
    {
        ++releases;
        IMessage::releaseImpl();
    }
    const std::string& getRecTermId() const override { return empty_; }
    const std::string& getRecElemId() const override { return recElemId_; }
    const std::string& getSndTermId() const override { return empty_; }
    const std::string& getSndElemId() const override { return empty_; }
    unsigned char getModifier() const override { return 0; }
    unsigned getSerialNum() const override { return serialNum_; }
    void setRecTermId(const std::string&) override {}
    void setRecElemId(const std::string& id) override { recElemId_ = id; }
    void setSndTermId(const std::string&) override {}
    void setSndElemId(const std::string&) override {}
    void setModifier(unsigned char) override {}
    void setSerialNum(unsigned serialNum) override { serialNum_ = serialNum; }
    void markBroken() override {}
    bool isBroken() const override { return false; }
    std::string toString() const override { return "counted " + recElemId_; }

    static inline std::atomic<int> live{0};
    static inline std::atomic<int> releases{0};

private:
    std::string recElemId_;
    std::string empty_;
    unsigned serialNum_;
};
