#include "QuarnMessages.h"

UINT QuarnLookupDirectoryMessage()
{
    static const UINT message = RegisterWindowMessageA(QUARN_MESSAGE_LOOKUP_DIRCTORY_NAME);
    return message;
}

UINT QuarnNodeChangeMessage()
{
    static const UINT message = RegisterWindowMessageA(QUARN_MESSAGE_COMPUTER_NODE_CHANGE_NAME);
    return message;
}

UINT QuarnFileTransferMessage()
{
    static const UINT message = RegisterWindowMessageA(QUARN_MESSAGE_FILE_TRANSFER_NAME);
    return message;
}
