#include "CMethodCallMsgEncoder.h"

#include "CBlockReader.h"
#include "CJException.h"
#include "CMethodCallMessage.h"
#include "CMethodCallWire.h"
#include "IOutputStream.h"
#include "ISerializable.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

const char SCOPE[] = "CMethodCallMsgEncoder";
const int INITIAL_CAPACITY = 4096;

enum Form { NO_PARAM_FORM, OBJECT_FORM, BUFFER_FORM };

// Writes the fields one after the other into a buffer that is known to be large enough.
class BlockWriter {
public:
    explicit BlockWriter(unsigned char* buffer) : position_(buffer) {}

    void putByte(unsigned char value) { *position_++ = value; }
    void putUInt32(unsigned value)
    {
        for (int i = 0; i < 4; ++i)
            putByte(static_cast<unsigned char>(value >> (8 * i)));
    }
    // The text and its NUL; a short one without a call of the platform's memcpy.
    void putText(const std::string& text)
    {
        size_t count = text.size() + 1;
        if (count > 64)
            memcpy(position_, text.c_str(), count);
        else
            CBlockReader::copyShort(position_, text.c_str(), count);
        position_ += count;
    }
    unsigned char* position() const { return position_; }
    void advance(unsigned count) { position_ += count; }

private:
    unsigned char* position_;
};

uint64_t textSize(const std::string& text)
{
    return text.size() + 1;
}

// A text goes on the wire closed by a NUL, so it must hold none itself: the receiver would
// split it and read every later field from the wrong place.
bool holdsNul(const std::string& text)
{
    return CBlockReader::findNul(reinterpret_cast<const unsigned char*>(text.data()), text.size()) != nullptr;
}

} // namespace

CMethodCallMsgEncoder::CMethodCallMsgEncoder(IOutputStream* stream)
    : buffer_(new unsigned char[INITIAL_CAPACITY]), capacity_(INITIAL_CAPACITY), stream_(stream)
{
}

CMethodCallMsgEncoder::~CMethodCallMsgEncoder()
{
    delete[] buffer_;
}

void CMethodCallMsgEncoder::write(IMessage* message)
{
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, "_DUMPMSG E:" + (message == nullptr ? std::string("NULL") : message->toString()), 0);
    CMethodCallMessage* call = dynamic_cast<CMethodCallMessage*>(message);
    if (call == nullptr) {
        CTrace::scopedError(SCOPE, " write(): the message is not a CMethodCallMessage; nothing is written", -1);
        return;
    }

    Form form;
    if (call->isCallWithoutParam()) {
        form = NO_PARAM_FORM;
    } else if (call->isCallWithObjectParam() || call->isReturnValue() || call->isException()) {
        form = OBJECT_FORM;
    } else if (call->isCallWithBufferParam()) {
        form = BUFFER_FORM;
    } else {
        CTrace::scopedError(SCOPE, " write(): the call kind and parameter kind match no form; nothing is written", -1);
        return;
    }

    const std::string& recTermId = call->getRecTermId();
    const std::string& recElemId = call->getRecElemId();
    const std::string& sndTermId = call->getSndTermId();
    const std::string& sndElemId = call->getSndElemId();
    const std::string& method = call->getMethodName();
    unsigned char senderInfo = sndElemId == recElemId ? CMethodCallWire::SENDER_ELEMENT_LEFT_OUT
                                                      : CMethodCallWire::SENDER_ELEMENT_FOLLOWS;

    ISerializable* value = nullptr;
    std::string typeName;
    unsigned valueSize = 0;
    unsigned bufferSize = 0;
    const unsigned char* bufferBytes = nullptr;
    try {
        if (form == OBJECT_FORM) {
            value = call->getParam();
            if (value != nullptr) {
                typeName = value->getClassName();
                valueSize = value->getSerializedSize();
            }
        } else if (form == BUFFER_FORM) {
            bufferSize = call->getBufSize();
            bufferBytes = call->getBuf();
            if (bufferBytes == nullptr)
                bufferSize = 0;
        }
    } catch (const CJException& e) {
        CTrace::scopedError(SCOPE, " write(): the argument cannot be read (" + e.getMessage() + "); nothing is written",
                            -1);
        return;
    }

    if (holdsNul(recTermId) || holdsNul(recElemId) || holdsNul(sndTermId) || holdsNul(sndElemId) || holdsNul(method)
        || holdsNul(typeName)) {
        CTrace::scopedError(SCOPE, " write(): a text field holds a 0 byte; nothing is written", -1);
        return;
    }

    uint64_t length = 1 + textSize(recTermId) + textSize(recElemId) + 1 + textSize(sndTermId)
                      + (senderInfo == CMethodCallWire::SENDER_ELEMENT_LEFT_OUT ? 0 : textSize(sndElemId)) + 1 + 4
                      + textSize(method) + 1;
    if (form == OBJECT_FORM)
        length += textSize(typeName) + valueSize;
    else if (form == BUFFER_FORM)
        length += textSize(CMethodCallWire::BUFFER_TYPE_NAME) + 4 + static_cast<uint64_t>(bufferSize);
    if (length > static_cast<uint64_t>(INT_MAX)) {
        CTrace::scopedError(SCOPE, " write(): the block would be " + std::to_string(length)
                            + " bytes, more than a stream can take; nothing is written", -1);
        return;
    }
    int blockLength = static_cast<int>(length);
    if (blockLength > capacity_) {
        delete[] buffer_;
        buffer_ = new (std::nothrow) unsigned char[blockLength];
        capacity_ = buffer_ == nullptr ? 0 : blockLength;
        CTrace::scopedAssertTrue(buffer_ != nullptr, SCOPE,
                                 " the send buffer cannot be grown to " + std::to_string(blockLength) + " bytes", -1);
    }

    BlockWriter out(buffer_);
    out.putByte(CMethodCallWire::VERSION);
    out.putText(recTermId);
    out.putText(recElemId);
    out.putByte(senderInfo);
    out.putText(sndTermId);
    if (senderInfo != CMethodCallWire::SENDER_ELEMENT_LEFT_OUT)
        out.putText(sndElemId);
    out.putByte(call->getModifier());
    out.putUInt32(call->getSerialNum());
    out.putText(method);
    out.putByte(form == NO_PARAM_FORM ? 0 : 1);
    if (form == OBJECT_FORM) {
        out.putText(typeName);
        if (value != nullptr) {
            if (!value->store(out.position())) {
                CTrace::scopedError(SCOPE, " write(): the argument object (" + typeName
                                    + ") does not implement serialization properly; nothing is written", -1);
                return;
            }
            out.advance(valueSize);
        }
    } else if (form == BUFFER_FORM) {
        out.putText(CMethodCallWire::BUFFER_TYPE_NAME);
        out.putUInt32(bufferSize);
        if (bufferSize != 0)
            memcpy(out.position(), bufferBytes, bufferSize);
    }
    stream_->write(buffer_, blockLength);
}
