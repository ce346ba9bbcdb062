#pragma once
// The registered window messages that the middleware posts to its clients' windows. The names
// are what clients register; the numbers are the system's, the same in every process.
#include <windows.h>

// To the window given when a lookup directory was opened: wParam the lookup handle, lParam the
// reply's status or ERROR_QUARN_COMM_LOOKUPDIR_CHANGED. (The name is spelled so on purpose:
// clients register it by this name.)
constexpr const char* QUARN_MESSAGE_LOOKUP_DIRCTORY_NAME = "QUARN_MESSAGE_LOOKUP_DIRCTORY";
// To every registered client window: wParam 0 when a node came, 1 when one went.
constexpr const char* QUARN_MESSAGE_COMPUTER_NODE_CHANGE_NAME = "QUARN_MESSAGE_COMPUTER_NODE_CHANGE";
// To the windows of a file transfer: wParam the transfer handle, lParam progress or status.
constexpr const char* QUARN_MESSAGE_FILE_TRANSFER_NAME = "QUARN_MESSAGE_FILE_TRANSFER";

UINT QuarnLookupDirectoryMessage();
UINT QuarnNodeChangeMessage();
UINT QuarnFileTransferMessage();
