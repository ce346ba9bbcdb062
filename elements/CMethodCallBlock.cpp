#include "CMethodCallBlock.h"

#include "CBlockReader.h"
#include "CTrace.h"

namespace {

const char SCOPE[] = "CMethodCallBlock";
const unsigned char CONTROL_MARK = 0;

unsigned sizeOf(const unsigned char* block, int size)
{
    return block == nullptr || size < 0 ? 0 : static_cast<unsigned>(size);
}

std::string cutShort(const char* operation)
{
    CTrace::scopedError(SCOPE, std::string(" ") + operation + "(): the block is too short to hold the id", -1);
    return std::string();
}

} // namespace

bool CMethodCallBlock::isControlPayload(const unsigned char* payload, int size)
{
    return sizeOf(payload, size) >= 1 && payload[0] == CONTROL_MARK;
}

void CMethodCallBlock::setControlPayload(unsigned char* payload, int size)
{
    if (sizeOf(payload, size) < 1) {
        CTrace::scopedError(SCOPE, " setControlPayload(): the payload is empty", -1);
        return;
    }
    payload[0] = CONTROL_MARK;
}

std::string CMethodCallBlock::peekReceiverTerminalId(const unsigned char* block, int size)
{
    CBlockReader reader(block, sizeOf(block, size));
    std::string recTermId;
    if (!reader.skip(1) || !reader.readText(&recTermId))
        return cutShort("peekReceiverTerminalId");
    return recTermId;
}

std::string CMethodCallBlock::peekSenderTerminalId(const unsigned char* block, int size)
{
    CBlockReader reader(block, sizeOf(block, size));
    std::string skipped;
    std::string sndTermId;
    if (!reader.skip(1) || !reader.readText(&skipped) || !reader.readText(&skipped) || !reader.skip(1)
        || !reader.readText(&sndTermId))
        return cutShort("peekSenderTerminalId");
    return sndTermId;
}
