#include "ViewableFixtures.h"

#include <algorithm>
#include <atomic>

// ---- EventLog

std::vector<std::string> EventLog::starting(const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& event : entries())
        if (event.compare(0, prefix.size(), prefix) == 0)
            found.push_back(event);
    return found;
}

int EventLog::count(const std::string& event)
{
    std::vector<std::string> events = entries();
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

bool EventLog::contains(const std::string& piece)
{
    std::vector<std::string> events = entries();
    return std::any_of(events.begin(), events.end(),
                       [&](const std::string& event) { return event.find(piece) != std::string::npos; });
}

bool EventLog::waitFor(const std::string& event, int times, DWORD timeoutMs)
{
    return waitUntil([&] { return count(event) >= times; }, timeoutMs);
}

// ---- FakeDisplay

void FakeDisplay::setEntity(CSharedElement* entity)
{
    log_.add(std::string("display: setEntity(") + (entity != nullptr ? "element" : "null") + ")");
}

void FakeDisplay::setLocation(const std::string& location) { log_.add("display: setLocation(" + location + ")"); }
void FakeDisplay::setSize(const std::string& size) { log_.add("display: setSize(" + size + ")"); }
void FakeDisplay::startMotion() { log_.add("display: startMotion()"); }
void FakeDisplay::stopMotion() { log_.add("display: stopMotion()"); }
void FakeDisplay::setMotion(const std::string& motion) { log_.add("display: setMotion(" + motion + ")"); }
void FakeDisplay::setDecoration(const std::string& decoration)
{
    log_.add("display: setDecoration(" + decoration + ")");
}

void FakeDisplay::setAttribute(const std::string& attribute) { log_.add("display: setAttribute(" + attribute + ")"); }
void FakeDisplay::setViewId(const std::string& viewId) { log_.add("display: setViewId(" + viewId + ")"); }

void FakeDisplay::setViewData(unsigned size, const unsigned char* data, int width, int height)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    log_.add("display: setViewData(" + std::to_string(size) + " " + bytes + " " + std::to_string(width) + " "
             + std::to_string(height) + ")");
}

// ---- TestViewable

namespace {

unsigned char* copyOf(const std::vector<unsigned char>& bytes)
{
    unsigned char* copy = new unsigned char[bytes.size()];
    std::copy(bytes.begin(), bytes.end(), copy);
    return copy;
}

} // namespace

TestViewable::TestViewable(EventLog& log, IElementDisplay* display) : log_(log), display_(display)
{
    registerOwn();
}

TestViewable::TestViewable(EventLog& log, IElementDisplay* display, const ViewTexts& texts, const std::string& viewId)
    : CViewableElement(texts.location, texts.size, texts.motion, texts.decoration, texts.attribute, viewId), log_(log),
      display_(display)
{
    registerOwn();
}

TestViewable::TestViewable(EventLog& log, IElementDisplay* display, const ViewTexts& texts,
                           const std::vector<unsigned char>& picture, int width, int height)
    : CViewableElement(texts.location, texts.size, texts.motion, texts.decoration, texts.attribute,
                       static_cast<unsigned>(picture.size()), copyOf(picture), width, height),
      log_(log), display_(display)
{
    registerOwn();
}

TestViewable::~TestViewable() = default;

void TestViewable::registerOwn()
{
    registerMethod("INS_initExtra", &TestViewable::INS_initExtra);
}

void TestViewable::INS_initExtra(const std::string& text)
{
    log_.add("hook: INS_initExtra(" + text + ")");
}

void TestViewable::onPlugInViewableElement(const std::string& text)
{
    log_.add("hook: onPlugInViewableElement(" + text + ")");
    if (isMaster() && display_ != nullptr)
        setElementDisplay(display_);
}

void TestViewable::onPlugOutViewableElement(const std::string& text)
{
    log_.add("hook: onPlugOutViewableElement(" + text + ")");
}

void TestViewable::onSyncViewableElement()
{
    log_.add("hook: onSyncViewableElement()");
    replyToCallerStr("INS_initExtra", "extra");
}

void TestViewable::onEndSyncViewableElement()
{
    log_.add(std::string("hook: onEndSyncViewableElement(") + (isSynchronized() ? "synchronised" : "not synchronised")
             + ")");
    if (display_ != nullptr)
        setElementDisplay(display_);
}

void TestViewable::onGainedOperation(const std::string& operatorTermId, const std::string& requestId)
{
    log_.add("hook: onGainedOperation(" + operatorTermId + "," + requestId + ")");
}

void TestViewable::onLostOperation(const std::string& operatorTermId, const std::string& requestId)
{
    log_.add("hook: onLostOperation(" + operatorTermId + "," + requestId + ")");
}

// ---- FakeTime

namespace {

std::atomic<time_t> s_fakeNow{0};

time_t fakeNow()
{
    return s_fakeNow;
}

} // namespace

FakeTime::FakeTime()
{
    s_fakeNow = 1000000;
    CViewableElement::setTimeSource(&fakeNow);
}

FakeTime::~FakeTime()
{
    CViewableElement::setTimeSource(nullptr);
}

void FakeTime::advance(int seconds)
{
    s_fakeNow += seconds;
}

time_t FakeTime::now()
{
    return s_fakeNow;
}

TimeRunner::TimeRunner(DWORD intervalMs)
    : thread_([this, intervalMs] {
          while (!stop_) {
              Sleep(intervalMs);
              FakeTime::advance(1);
          }
      })
{
}

TimeRunner::~TimeRunner()
{
    stop_ = true;
    thread_.join();
}

void pause(DWORD ms)
{
    Sleep(ms);
}
