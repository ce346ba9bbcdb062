#pragma once
// The middleware's status codes and entry types, shared by the server, its service build and
// the main program's client classes. Failures are 0xE004xxxx (severity set, facility 4),
// successes 0x2004xxxx; both travel in the thread's last error inside the server and come out
// of the interface unchanged (facility 4 is kept as it stands). Platform errors travel as
// their Win32 numbers and leave the interface as 0x8007xxxx.
#include <windows.h>

// A request packet of unknown type.
constexpr DWORD ERROR_QUARN_COMMON_INVALID_TYPE = 0xE0040001;
// A path that does not begin with "\", holds two backslashes in a row, runs through an entry
// that is not a directory, names nothing or names an unknown node; also a received file whose
// target application has no watch window.
constexpr DWORD ERROR_QUARN_COMMON_INVALID_PATH = 0xE0040002;
// An entry exists with another type than the one asked for, or a reference operation on a
// directory.
constexpr DWORD ERROR_QUARN_COMMON_TYPE_MISMATCH = 0xE0040003;

// Uninitialize without a matching Initialize.
constexpr DWORD ERROR_QUARN_SERVER_REF_LESSTHAN_ZERO = 0xE0040101;
// A method called while the server core is not up.
constexpr DWORD ERROR_QUARN_SERVER_NOT_INITIALIZED = 0xE0040102;
// The core lock could not be taken at Initialize, or the communication layer is started twice.
constexpr DWORD ERROR_QUARN_SERVER_BUSY = 0xE0040103;
// The configured port is in use when the communication layer starts.
constexpr DWORD ERROR_QUARN_SERVER_PORT_IN_USE = 0xE0040104;

// Posted with QUARN_MESSAGE_LOOKUP_DIRCTORY: an open directory changed or its node came or went.
constexpr DWORD ERROR_QUARN_COMM_LOOKUPDIR_CHANGED = 0xE0040201;
// A transfer's connection ended before the transfer was complete.
constexpr DWORD ERROR_QUARN_COMM_CONNECTION_CLOSED = 0xE0040202;
// A file transfer's connection to the receiving node was refused.
constexpr DWORD ERROR_QUARN_COMM_CONNECTION_REFUSED = 0xE0040203;
// The receiving side gave a transfer up (its application closed it, or no application could be
// told of its progress); the sender hears it as the abort's status (service build only).
constexpr DWORD ERROR_QUARN_COMM_TRANSFER_ABORTED = 0xE0040211;

// The reference to remove is not held by the entry (or by any entry under the directory).
constexpr DWORD ERROR_QUARN_DB_REFERNCE_NOT_FOUND = 0xE0040301;
// The reference to add is already held; left as the last error, the adding call still succeeds.
constexpr DWORD ERROR_QUARN_DB_REFERNCE_ALREADY_EXIST = 0xE0040302;

// Sending side of a file transfer: plus the percentage done (0x20040064 when done).
constexpr DWORD QUARN_STATUS_SEND_PROGRESS = 0x20040000;
// Receiving side: plus the percentage received (0x20040100 opened, 0x20040164 complete).
constexpr DWORD QUARN_STATUS_RECEIVE_PROGRESS = 0x20040100;
// The message-queue lock of the service build was taken.
constexpr DWORD QUARN_STATUS_QUEUE_LOCKED = 0x200400FF;

// The interface also answers 0x80070008 (ERROR_NOT_ENOUGH_MEMORY) when an allocation of the
// server object fails, 0x80070078 (ERROR_CALL_NOT_IMPLEMENTED) from the three profile methods,
// and 0x8007xxxx for any other platform error found in the thread's last error.

// The status of a lookup handle while its directory request is outstanding: what reading its
// count answers until the reply arrives. (Not Win32's ERROR_IO_PENDING, which is 997: the
// clients compare with this number.)
constexpr DWORD QUARN_LOOKUP_PENDING = 996;

// The server's version: published as "Version" under "Computer Information" and answered by
// the interface.
constexpr DWORD QUARN_SERVER_VERSION = 0x00010003;

// Entry types of the middleware directories; 4 is not used.
constexpr DWORD QUARNTYPE_INT = 1;
constexpr DWORD QUARNTYPE_STRING = 2;
constexpr DWORD QUARNTYPE_BINARY = 3;
constexpr DWORD QUARNTYPE_DIR = 5;
