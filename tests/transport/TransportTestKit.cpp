#include "TransportTestKit.h"

#include "CGuid.h"
#include "CMethodCallMessage.h"
#include "CMethodCallMsgEncoder.h"
#include "IOutputStream.h"

#include <future>
#include <thread>

const char APPLICATION_GUID[] = "6B1C2E0A-3D7F-4C55-9E21-7A0D5B3C8F14";

namespace {

class Capture : public IOutputStream {
public:
    void write(const unsigned char* data, int size) override { bytes.assign(data, data + size); }
    std::vector<unsigned char> bytes;
};

} // namespace

void EventLog::update(CObservable*, std::string argument)
{
    events.add(argument);
}

ManualClock::ManualClock(CDirectPlay& directPlay)
{
    directPlay.setRetryClock([this] { return now_.load(); },
                             [this](DWORD ms) {
                                 std::lock_guard<std::mutex> hold(lock_);
                                 sleeps_.push_back(ms);
                                 now_ += ms;
                             });
}

std::vector<DWORD> ManualClock::sleeps()
{
    std::lock_guard<std::mutex> hold(lock_);
    return sleeps_;
}

std::vector<unsigned char> encodeCall(const std::string& recTermId, const std::string& sndTermId,
                                      const std::string& method, const std::string& recElemId, size_t size)
{
    std::vector<unsigned char> argument(size, 0x5A);
    CMethodCallMessage* call = CMethodCallMessage::createRemoteCall(recTermId, recElemId, sndTermId, "S", method,
                                                                    static_cast<unsigned>(argument.size()),
                                                                    argument.data());
    Capture capture;
    CMethodCallMsgEncoder encoder(&capture);
    encoder.write(call);
    IMessage::release(call);
    return capture.bytes;
}

Received receiveWithin(CDirectPlay& directPlay, DWORD timeoutMs)
{
    Received received;
    std::promise<void> done;
    std::future<void> returned = done.get_future();
    std::thread receiver([&] {
        unsigned char* data = nullptr;
        bool fromMyself = false;
        DWORD size = directPlay.receive(&data, &fromMyself);
        received.size = size;
        received.fromMyself = fromMyself;
        if (size > 0)
            received.data.assign(data, data + size);
        done.set_value();
    });
    if (returned.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        received.timedOut = true;
        directPlay.releaceThread();
    }
    receiver.join();
    return received;
}

void FakeDirectPlayTest::SetUp()
{
    fake().reset();
    previous_ = CDirectPlay::setCreateInstance(&FakeDirectPlay::createInstance);
    comBefore_ = CDirectPlay::getComUseCount();
}

void FakeDirectPlayTest::TearDown()
{
    CDirectPlay::setCreateInstance(previous_);
    EXPECT_EQ(0, fake().liveObjects()) << "a DirectPlay or lobby object was not released";
    EXPECT_EQ(comBefore_, CDirectPlay::getComUseCount()) << "a COM initialisation was not given back";
    fake().reset();
}

Terminal::Terminal(const std::string& terminalId, bool isHost, int busyRetrySeconds)
    : directPlay(new CDirectPlay(terminalId, isHost, busyRetrySeconds)),
      transmitter(new CMessageTransmitter(directPlay.get(), terminalId))
{
    directPlay->setMessageTransmitter(transmitter.get());
}

Terminal::~Terminal()
{
    transmitter.reset();
    directPlay.reset();
}

std::vector<unsigned char> Terminal::receive()
{
    unsigned char* data = nullptr;
    DWORD size = transmitter->receive(&data);
    if (size == 0)
        return {};
    return std::vector<unsigned char>(data, data + size);
}

std::unique_ptr<Terminal> FakeDirectPlayTest::openHost(const std::string& terminalId)
{
    fake().playerId = DPID_SERVERPLAYER;
    std::unique_ptr<Terminal> terminal(new Terminal(terminalId, true));
    terminal->dp().addObserver(&log_);
    terminal->dp().open(APPLICATION_GUID);
    return terminal;
}

std::unique_ptr<Terminal> FakeDirectPlayTest::openMember(const std::string& terminalId, DPID playerId)
{
    fake().playerId = playerId;
    fake().sessions = {fake().instance};
    std::unique_ptr<Terminal> terminal(new Terminal(terminalId, false));
    terminal->dp().addObserver(&log_);
    terminal->dp().open(APPLICATION_GUID, CGuid::guidToString(fake().instance), "198.18.0.1");
    return terminal;
}

std::vector<std::string> FakeDirectPlayTest::callsFrom(size_t index)
{
    std::vector<std::string> all = fake().calls();
    if (index >= all.size())
        return {};
    return std::vector<std::string>(all.begin() + static_cast<long>(index), all.end());
}
