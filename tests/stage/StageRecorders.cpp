#include "StageRecorders.h"

#include "CJString.h"
#include "CVector.h"

#include <algorithm>
#include <cstdio>

namespace {

unsigned crc32(const unsigned char* data, unsigned length)
{
    unsigned crc = 0xFFFFFFFFu;
    for (unsigned i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

} // namespace

std::string describeBlock(const unsigned char* data, unsigned length)
{
    if (data == nullptr)
        return "null";
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", crc32(data, length));
    return "len=" + std::to_string(length) + " crc=" + crc;
}

std::string RecordingChatGui::makeSpeakerData(const std::string& terminalId, const std::string& nickname,
                                              const std::string& referNum)
{
    return terminalId + "_SPEAKER_DATA_SEP_" + referNum + "_SPEAKER_DATA_SEP_" + nickname;
}

void RecordingChatGui::parseSpeakerData(std::string_view data, std::string* terminalId, std::string* nickname,
                                        std::string* referNum)
{
    const std::string_view sep = "_SPEAKER_DATA_SEP_";
    size_t first = data.find(sep);
    size_t second = first == std::string_view::npos ? first : data.find(sep, first + sep.size());
    *terminalId = std::string(data.substr(0, first));
    *referNum = first == std::string_view::npos ? std::string()
                                                : std::string(data.substr(first + sep.size(), second - first - sep.size()));
    *nickname = second == std::string_view::npos ? std::string() : std::string(data.substr(second + sep.size()));
}

void RecordingChatGui::addSpeaker(const std::string& speakerData) { journal_.add("addSpeaker " + speakerData); }
void RecordingChatGui::removeSpeaker(const std::string& terminalId) { journal_.add("removeSpeaker " + terminalId); }
void RecordingChatGui::addSpeech(const std::string& terminalId, const std::string& text)
{
    journal_.add("addSpeech " + terminalId + " " + text);
}
void RecordingChatGui::setSession(const std::string& name) { journal_.add("setSession " + name); }
void RecordingChatGui::openLogFile(const std::string& fileName) { journal_.add("openLogFile " + fileName); }
void RecordingChatGui::closeLogFile() { journal_.add("closeLogFile"); }
void RecordingChatGui::setLocation(bool show) { journal_.add(std::string("setLocation ") + (show ? "1" : "0")); }
void RecordingChatGui::notifyDisplayDestroyed() { journal_.add("notifyDisplayDestroyed"); }
void RecordingChatGui::setProcessor(CElement*) { journal_.add("setProcessor"); }

void RecordingDisplay::setEntity(CSharedElement* entity)
{
    {
        std::lock_guard<std::mutex> hold(entityLock_);
        entity_ = entity;
    }
    note(entity == nullptr ? "setEntity null" : "setEntity");
}

CSharedElement* RecordingDisplay::entity()
{
    std::lock_guard<std::mutex> hold(entityLock_);
    return entity_;
}
void RecordingDisplay::setLocation(const std::string& location) { note("setLocation " + location); }
void RecordingDisplay::setSize(const std::string& size) { note("setSize " + size); }
void RecordingDisplay::startMotion() { note("startMotion"); }
void RecordingDisplay::stopMotion() { note("stopMotion"); }
void RecordingDisplay::setMotion(const std::string& motion) { note("setMotion " + motion); }
void RecordingDisplay::setDecoration(const std::string& decoration) { note("setDecoration " + decoration); }
void RecordingDisplay::setAttribute(const std::string& attribute) { note("setAttribute " + attribute); }
void RecordingDisplay::setViewId(const std::string& viewId) { note("setViewId " + viewId); }
void RecordingDisplay::setViewData(unsigned size, const unsigned char* data, int width, int height)
{
    note("setViewData " + describeBlock(data, size) + " " + std::to_string(width) + "x" + std::to_string(height));
}

void RecordingContentDisplay::setIcon(unsigned imageLength, const unsigned char* image, unsigned maskLength,
                                      const unsigned char* mask, std::uint16_t imageBits, std::uint16_t maskBits)
{
    note("setIcon " + describeBlock(image, imageLength) + " " + describeBlock(mask, maskLength) + " " +
         std::to_string(imageBits) + " " + std::to_string(maskBits));
}
void RecordingContentDisplay::onGainedMyOperation(const std::string& requestId) { note("onGainedMyOperation " + requestId); }
void RecordingContentDisplay::onLostMyOperation(const std::string& requestId) { note("onLostMyOperation " + requestId); }
void RecordingContentDisplay::onGainedOperation(const std::string& requestId) { note("onGainedOperation " + requestId); }
void RecordingContentDisplay::onLostOperation(const std::string& requestId) { note("onLostOperation " + requestId); }
void RecordingContentDisplay::onSpeech(const std::string& text) { note("onSpeech " + text); }
void RecordingContentDisplay::execFile(const std::string& path) { note("execFile " + path); }
void RecordingContentDisplay::showMessage(const std::string& text) { note("showMessage " + text); }

void RecordingStageView::setStage(CSharedElement*) { note("setStage"); }

IElementDisplay* RecordingStageView::getElementDisplay(const std::string& key)
{
    note("getElementDisplay " + key);
    return make(key, true, false);
}

IElementDisplay* RecordingStageView::getCursorDisplay(const std::string& key, bool own)
{
    note(std::string("getCursorDisplay ") + (own ? "own " : "foreign ") + key);
    return make(key, false, own);
}

IElementDisplay* RecordingStageView::make(const std::string& key, bool content, bool own)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (names_.count(key) != 0)
        return nullptr;
    std::string name = "D" + std::to_string(made_.size());
    names_[key] = name;
    if (content) {
        made_.emplace_back(new RecordingContentDisplay(display, name, chat));
        place(key, true);
    } else {
        made_.emplace_back(new RecordingDisplay(display, name));
    }
    (void)own;
    return made_.back().get();
}

CSharedElement* RecordingStageView::entity(const std::string& key)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = names_.find(key);
    if (entry == names_.end())
        return nullptr;
    return made_.at(static_cast<size_t>(std::stoi(entry->second.substr(1))))->entity();
}

void RecordingStageView::place(const std::string& key, bool top)
{
    lower_.erase(std::remove(lower_.begin(), lower_.end(), key), lower_.end());
    if (top)
        lower_.push_back(key);
    else
        lower_.insert(lower_.begin(), key);
}

void RecordingStageView::releaseDisplay(const std::string& key)
{
    note("releaseDisplay " + key);
    std::lock_guard<std::mutex> hold(lock_);
    lower_.erase(std::remove(lower_.begin(), lower_.end(), key), lower_.end());
}

void RecordingStageView::putOnTop(const std::string& key)
{
    note("putOnTop " + key);
    std::lock_guard<std::mutex> hold(lock_);
    place(key, true);
}

void RecordingStageView::moveToTop(const std::string& key)
{
    runMoveHook(key);
    note("moveToTop " + key);
    std::lock_guard<std::mutex> hold(lock_);
    place(key, true);
}

void RecordingStageView::moveToBottom(const std::string& key)
{
    runMoveHook(key);
    note("moveToBottom " + key);
    std::lock_guard<std::mutex> hold(lock_);
    place(key, false);
}

void RecordingStageView::moveToUpperLayer(const std::string& key)
{
    note("moveToUpperLayer " + key);
    std::lock_guard<std::mutex> hold(lock_);
    lower_.erase(std::remove(lower_.begin(), lower_.end(), key), lower_.end());
}

bool RecordingStageView::isGrabed(const std::string& key)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = grabbed_.find(key);
    return entry != grabbed_.end() && entry->second;
}

void RecordingStageView::lowerLayerAlignment(CVector& keys)
{
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::string& key : lower_)
        keys.addElement(new CJString(key));
}

void RecordingStageView::changeCustomBgData(unsigned length, const unsigned char* data, int width, int height)
{
    note("changeCustomBgData " + describeBlock(data, length) + " " + std::to_string(width) + "x" +
         std::to_string(height));
}

void RecordingStageView::changeBackGround(int number) { note("changeBackGround " + std::to_string(number)); }
void RecordingStageView::setStatus(int status) { note("setStatus " + std::to_string(status)); }
void RecordingStageView::onInitialized() { note("onInitialized"); }
void RecordingStageView::onElementInstalled(const std::string& desc) { note("onElementInstalled " + desc); }

void RecordingStageView::getStageSize(int& width, int& height)
{
    width = 800;
    height = 400;
}

void RecordingStageView::NotifyCR() { note("NotifyCR"); }
void RecordingStageView::showMessage(const std::string& text) { note("showMessage " + text); }
void RecordingStageView::onFileCopied(const std::string& report) { note("onFileCopied " + report); }

void RecordingStageView::setGrabbed(const std::string& key, bool grabbed)
{
    std::lock_guard<std::mutex> hold(lock_);
    grabbed_[key] = grabbed;
}

std::vector<std::string> RecordingStageView::lowerLayer()
{
    std::lock_guard<std::mutex> hold(lock_);
    return lower_;
}

std::string RecordingStageView::displayName(const std::string& key)
{
    std::lock_guard<std::mutex> hold(lock_);
    auto entry = names_.find(key);
    return entry == names_.end() ? std::string() : entry->second;
}

void RecordingStageView::setMoveHook(std::function<void(const std::string&)> hook)
{
    std::lock_guard<std::mutex> hold(lock_);
    moveHook_ = std::move(hook);
}

void RecordingStageView::runMoveHook(const std::string& key)
{
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> hold(lock_);
        hook = moveHook_;
    }
    if (hook)
        hook(key);
}
