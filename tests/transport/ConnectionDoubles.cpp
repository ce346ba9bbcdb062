#include "ConnectionDoubles.h"

#include "CIOException.h"
#include "CNullPointerException.h"

#include <chrono>

MessageStub::MessageStub(const std::string& recTermId, const std::string& recElemId)
    : recTermId_(recTermId), recElemId_(recElemId)
{
    ++live;
}

MessageStub::~MessageStub()
{
    --live;
}

ScriptedInput::~ScriptedInput()
{
    for (Item& item : items_)
        IMessage::release(item.message);
}

void ScriptedInput::deliver(IMessage* message)
{
    std::lock_guard<std::mutex> hold(lock_);
    items_.push_back({message, false, ""});
    changed_.notify_all();
}

void ScriptedInput::end()
{
    deliver(nullptr);
}

void ScriptedInput::fail(const std::string& text)
{
    std::lock_guard<std::mutex> hold(lock_);
    items_.push_back({nullptr, true, text});
    changed_.notify_all();
}

IMessage* ScriptedInput::read()
{
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !items_.empty(); });
    Item item = items_.front();
    items_.pop_front();
    if (item.fails)
        throw CIOException(item.text);
    return item.message;
}

void RecordingOutput::write(IMessage* message)
{
    std::unique_lock<std::mutex> hold(lock_);
    writing_ = true;
    changed_.notify_all();
    changed_.wait(hold, [&] { return !held_; });
    writing_ = false;
    journal_.add("write " + message->getRecElemId());
}

void RecordingOutput::hold()
{
    std::lock_guard<std::mutex> hold(lock_);
    held_ = true;
}

void RecordingOutput::letGo()
{
    std::lock_guard<std::mutex> hold(lock_);
    held_ = false;
    changed_.notify_all();
}

bool RecordingOutput::waitWriting(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return writing_; });
}

void AddressBook::enter(const std::string& terminalId, const std::string& ipAddress, int portNum)
{
    std::lock_guard<std::mutex> hold(lock_);
    entries_.push_back({terminalId, ipAddress, portNum});
}

void AddressBook::getAddress(const std::string& terminalId, std::string& ipAddress, int& portNum)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (const Entry& entry : entries_) {
        if (entry.terminalId == terminalId) {
            ipAddress = entry.ipAddress;
            portNum = entry.portNum;
            return;
        }
    }
    throw CNullPointerException("the terminal id is not registered: " + terminalId);
}

void AddressBook::getAllAddresses(std::vector<std::string>& ipAddresses, std::vector<int>& portNums)
{
    std::lock_guard<std::mutex> hold(lock_);
    ipAddresses.clear();
    portNums.clear();
    for (const Entry& entry : entries_) {
        ipAddresses.push_back(entry.ipAddress);
        portNums.push_back(entry.portNum);
    }
}

void AddressBook::setAddress(const std::string& ipAddress, int portNum)
{
    journal_.add("to " + ipAddress + ":" + std::to_string(portNum));
}

void TestConnection::onProcessMessage(IMessage* message)
{
    received.add(message->getRecElemId());
    IMessage::release(message);
}
