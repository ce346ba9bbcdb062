#include "CMethodCallMsgDecoder.h"

#include "CBlockReader.h"
#include "CBool.h"
#include "CBuffer.h"
#include "CInteger.h"
#include "CJException.h"
#include "CJString.h"
#include "CMethodCallMessage.h"
#include "CMethodCallWire.h"
#include "IInputStream.h"

#include <cstdint>
#include <memory>
#include <new>

namespace {

const char SCOPE[] = "CMethodCallMsgDecoder";

struct DecodableType {
    const char* name;
    ISerializable* (*create)();
};

template <class T>
ISerializable* createDefault()
{
    return new (std::nothrow) T();
}

// The only types a block may carry as an object argument; every exception travels as a plain
// CJException.
const DecodableType DECODABLE_TYPES[] = {
    {"CJString", createDefault<CJString>},
    {"CInteger", createDefault<CInteger>},
    {"CBool", createDefault<CBool>},
    {"CBuffer", createDefault<CBuffer>},
    {"CJException", createDefault<CJException>},
};

const DecodableType* decodableType(std::string_view name)
{
    for (const DecodableType& type : DECODABLE_TYPES) {
        if (name == type.name)
            return &type;
    }
    return nullptr;
}

CMethodCallMessage* dropCutField(const char* field)
{
    CTrace::scopedError(SCOPE, std::string(" the field ") + field + " is cut short; the block is dropped", -1);
    return nullptr;
}

CMethodCallMessage* dropUnanalysable(std::string_view method, int paramCount)
{
    CTrace::scopedError(SCOPE, " the block cannot be analysed: method=[" + std::string(method) + "] paramCount=["
                        + std::to_string(paramCount) + "]", -1);
    CTrace::scopedError(SCOPE, " no message can be made for a parameter type that cannot be decoded; the block is"
                        " dropped", -1);
    return nullptr;
}

// The value named by its type; the stored form follows at the reader's position and must lie
// wholly inside the block. NULL when the type cannot be decoded or the value does not fit.
std::unique_ptr<ISerializable> createValue(const DecodableType& type, const CBlockReader& storedForm)
{
    std::unique_ptr<ISerializable> value(type.create());
    CTrace::scopedAssertTrue(value != nullptr, SCOPE, std::string(" no ") + type.name + " could be created", -1);
    unsigned consumed = 0;
    if (!value->restore(storedForm.position(), storedForm.remaining(), &consumed)) {
        CTrace::scopedError(SCOPE, std::string(" the stored form of the ") + type.name
                            + " argument runs past the end of the block; the block is dropped", -1);
        value.reset();
    }
    return value;
}

// The byte count of a "char[]" argument and its bytes; the reader stands after the type name.
bool checkBuffer(CBlockReader argument, std::string_view typeName, unsigned* count, const unsigned char** bytes)
{
    uint64_t remaining = typeName.size() + 1 + static_cast<uint64_t>(argument.remaining());
    if (!argument.readUInt32(count)) {
        CTrace::scopedError(SCOPE, " the byte count of the buffer argument is cut short", -1);
        return false;
    }
    // 64 bits: a hostile count near 4 GB must not wrap around and pass.
    uint64_t needed = typeName.size() + 1 + 4 + static_cast<uint64_t>(*count);
    if (needed > remaining) {
        CTrace::scopedError(SCOPE, " the buffer argument is shorter than declared: bufsize=" + std::to_string(*count)
                            + " sum=" + std::to_string(needed) + " remaining=" + std::to_string(remaining), -1);
        return false;
    }
    if (needed < remaining)
        CTrace::scopedError(SCOPE, " the sender declared less than it sent: bufsize=" + std::to_string(*count)
                            + " sum=" + std::to_string(needed) + " remaining=" + std::to_string(remaining)
                            + "; the surplus is ignored", -1);
    *bytes = argument.position();
    return true;
}

} // namespace

CMethodCallMsgDecoder::CMethodCallMsgDecoder(IInputStream* stream) : stream_(stream) {}

IMessage* CMethodCallMsgDecoder::read()
{
    for (;;) {
        const unsigned char* block = nullptr;
        int size = stream_->read(&block);
        if (size == 0) {
            CTrace::trace(SCOPE, " read(): the input stream has ended", 0);
            return nullptr;
        }
        if (size < 0 || block == nullptr) {
            CTrace::scopedError(SCOPE, " read(): the input stream gave no block (size " + std::to_string(size)
                                + "); taken as the end of input", -1);
            return nullptr;
        }
        CMethodCallMessage* message = decode(block, static_cast<unsigned>(size));
        if (message != nullptr) {
            if (CTrace::isTraced(SCOPE))
                CTrace::trace(SCOPE, "_DUMPMSG D:" + message->toString(), 0);
            return message;
        }
    }
}

CMethodCallMessage* CMethodCallMsgDecoder::decode(const unsigned char* block, unsigned size)
{
    CBlockReader reader(block, size);
    unsigned char version;
    CMethodCallMessage::Texts texts;
    unsigned char senderInfo;
    unsigned char mod;
    unsigned serialNum;
    unsigned char paramCountByte;

    // The version is not examined: any first byte reads as a method call.
    if (!reader.readByte(&version))
        return dropCutField("version");
    if (!reader.readText(&texts.recTermId))
        return dropCutField("recTermId");
    if (!reader.readText(&texts.recElemId))
        return dropCutField("recElemId");
    if (!reader.readByte(&senderInfo))
        return dropCutField("senderInfo");
    if (!reader.readText(&texts.sndTermId))
        return dropCutField("sndTermId");
    if (senderInfo == CMethodCallWire::SENDER_ELEMENT_LEFT_OUT)
        texts.sndElemId = texts.recElemId;
    else if (!reader.readText(&texts.sndElemId))
        return dropCutField("sndElemId");
    if (!reader.readByte(&mod))
        return dropCutField("mod");
    if (!reader.readUInt32(&serialNum))
        return dropCutField("serialNum");
    if (CTrace::isTraced(SCOPE))
        CTrace::trace(SCOPE, "HEADER:RT[" + std::string(texts.recTermId) + "] RE[" + std::string(texts.recElemId)
                      + "] ST[" + std::string(texts.sndTermId) + "] SE[" + std::string(texts.sndElemId) + "] mod["
                      + std::to_string(mod) + "] SNo[" + std::to_string(static_cast<int>(serialNum)) + "]",
                      0);
    if (!reader.readText(&texts.method))
        return dropCutField("method");
    if (!reader.readByte(&paramCountByte))
        return dropCutField("paramCount");
    std::string_view method = texts.method;
    int paramCount = static_cast<signed char>(paramCountByte);
    if (CTrace::isTraced(SCOPE)) {
        CTrace::trace(SCOPE, "BODY:method=[" + std::string(method) + "] paramCount=[" + std::to_string(paramCount) + "]",
                      0);
        CTrace::trace(SCOPE, " bytes left for the parameter=[" + std::to_string(reader.remaining()) + "]", 0);
    }

    // The argument's type name, and after it the reader at the argument's bytes.
    CBlockReader argument = reader;
    std::string_view typeName;
    bool hasTypeName = argument.readText(&typeName);
    const DecodableType* type = hasTypeName ? decodableType(typeName) : nullptr;
    bool nullObject = hasTypeName && typeName.empty();

    CMethodCallMessage::ReceivedKind kind;
    if (method == CMethodCallWire::RETURN_METHOD) {
        if (paramCount != 0 && !nullObject && type == nullptr)
            return dropUnanalysable(method, paramCount);
        kind = CMethodCallMessage::RECEIVED_RETURN;
    } else if (method.empty() && paramCount == 1) {
        if (!nullObject && type == nullptr)
            return dropUnanalysable(method, paramCount);
        kind = CMethodCallMessage::RECEIVED_EXCEPTION;
    } else if (paramCount == 0) {
        kind = CMethodCallMessage::RECEIVED_NO_PARAM;
    } else if (paramCount == 1 && (nullObject || type != nullptr)) {
        kind = CMethodCallMessage::RECEIVED_OBJECT;
    } else if (paramCount == 1 && hasTypeName && typeName == CMethodCallWire::BUFFER_TYPE_NAME) {
        kind = CMethodCallMessage::RECEIVED_BUFFER;
    } else {
        return dropUnanalysable(method, paramCount);
    }

    std::unique_ptr<ISerializable> value;
    bool withValue = kind != CMethodCallMessage::RECEIVED_NO_PARAM && kind != CMethodCallMessage::RECEIVED_BUFFER
                     && !(kind == CMethodCallMessage::RECEIVED_RETURN && paramCount == 0) && !nullObject;
    if (withValue) {
        value = createValue(*type, argument);
        if (value == nullptr)
            return nullptr;
    }
    unsigned bufferSize = 0;
    const unsigned char* bufferBytes = nullptr;
    if (kind == CMethodCallMessage::RECEIVED_BUFFER && !checkBuffer(argument, typeName, &bufferSize, &bufferBytes))
        return dropUnanalysable(method, paramCount);

    CMethodCallMessage* message = nullptr;
    try {
        message = CMethodCallMessage::createReceived(texts, kind, value.get(), bufferSize, bufferBytes);
    } catch (const CJException& e) {
        CTrace::scopedError(SCOPE, " no message can be made (" + e.getMessage() + "); the block is dropped", -1);
        return nullptr;
    }
    value.release(); // the message owns it now
    message->setModifier(mod);
    message->setSerialNum(serialNum);
    return message;
}
