#pragma once
// Stand-ins around a message connection: a message input fed by the test, an output that
// records every write (and waits while held), an address book that is both getter and setter,
// and messages that count how many of them live.
#include "CJObject.h"
#include "CNetworkConnection.h"
#include "IAddressGetter.h"
#include "IAddressSetter.h"
#include "IMessage.h"
#include "IMessageInput.h"
#include "IMessageOutput.h"
#include "TestSupport.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

// A message named by its receiver element id, to a receiver terminal id.
class MessageStub : public virtual IMessage {
public:
    MessageStub(const std::string& recTermId, const std::string& recElemId);
    ~MessageStub() override;

    const std::string& getRecTermId() const override { return recTermId_; }
    const std::string& getRecElemId() const override { return recElemId_; }
    const std::string& getSndTermId() const override { return empty_; }
    const std::string& getSndElemId() const override { return empty_; }
    unsigned char getModifier() const override { return 0; }
    unsigned getSerialNum() const override { return 0; }
    void setRecTermId(const std::string& id) override { recTermId_ = id; }
    void setRecElemId(const std::string& id) override { recElemId_ = id; }
    void setSndTermId(const std::string&) override {}
    void setSndElemId(const std::string&) override {}
    void setModifier(unsigned char) override {}
    void setSerialNum(unsigned) override {}
    void markBroken() override {}
    bool isBroken() const override { return false; }
    std::string toString() const override { return recTermId_ + "/" + recElemId_; }

    // Stubs alive in this program.
    static inline std::atomic<int> live{0};

private:
    std::string recTermId_;
    std::string recElemId_;
    std::string empty_;
};

// A library object, as every message of the system is.
class CountedMessage : public CJObject, public MessageStub {
public:
    explicit CountedMessage(const std::string& recElemId, const std::string& recTermId = "T2")
        : MessageStub(recTermId, recElemId)
    {
    }
    std::string toString() const override { return MessageStub::toString(); }
};

// Not a library object.
class ForeignMessage : public MessageStub {
public:
    explicit ForeignMessage(const std::string& recElemId) : MessageStub("T2", recElemId) {}
};

class ScriptedInput : public IMessageInput {
public:
    // Releases what was never read.
    ~ScriptedInput() override;
    void deliver(IMessage* message);
    void end();
    void fail(const std::string& text); // the next read throws CIOException
    IMessage* read() override;

private:
    struct Item {
        IMessage* message;
        bool fails;
        std::string text;
    };
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Item> items_;
};

// Writes "write <receiver element id>"; while held, a write waits (after noting "writing").
class RecordingOutput : public IMessageOutput {
public:
    explicit RecordingOutput(Journal& journal) : journal_(journal) {}
    void write(IMessage* message) override;
    void hold();
    void letGo();
    bool waitWriting(DWORD timeoutMs);

private:
    Journal& journal_;
    std::mutex lock_;
    std::condition_variable changed_;
    bool held_ = false;
    bool writing_ = false;
};

// Addresses in registration order; setAddress writes "to <ip>:<port>" to the journal.
class AddressBook : public IAddressGetter, public IAddressSetter {
public:
    explicit AddressBook(Journal& journal) : journal_(journal) {}
    void enter(const std::string& terminalId, const std::string& ipAddress, int portNum);
    void getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum) override;
    void getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums) override;
    void setAddress(const std::string& ipAddress, int portNum) override;

private:
    struct Entry {
        std::string terminalId;
        std::string ipAddress;
        int portNum;
    };
    Journal& journal_;
    std::mutex lock_;
    std::vector<Entry> entries_;
};

// Keeps the receiver element ids of what it received, in order, and releases the messages.
class TestConnection : public CNetworkConnection {
public:
    using CNetworkConnection::CNetworkConnection;
    Journal received;

protected:
    void onProcessMessage(IMessage* message) override;
};
