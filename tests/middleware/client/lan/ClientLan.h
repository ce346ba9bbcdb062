#pragma once
// What the client's LAN scenarios share: the folder where the hosts' programs meet (and where
// lan_test.sh takes its cues), file transfer notices and the timed start of CQuarn.
#include "MessagePump.h"
#include "PatternFile.h"
#include "ShareFolder.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CQuarn;

// The end of the receiving side of a pair: tells the other this side's result (MINE.done) and
// waits for the other's end (THEIRS.done), so that neither lets go of the middleware too early.
void handOver(const std::string& mine, const std::string& theirs, DWORD timeoutMs);
// The end of the sending side: the other side's result (THEIRS.done) must be "ok"; then MINE.done.
void takeOver(const std::string& theirs, const std::string& mine, DWORD timeoutMs);

// "QUARN_MESSAGE_FILE_TRANSFER" as windows of makeWindow were told it.
struct Notice {
    WPARAM handle;
    DWORD code;
    HWND window;
};
extern std::vector<Notice> g_notices;
HWND makeWindow();
bool noticeCame(WPARAM handle, DWORD code);
// The notices of one handle: begin to end in order, each step up.
void expectProgress(WPARAM handle, DWORD first, DWORD last);

// CQuarn of application "T" for the terminal, its constructor's time printed as a FIGURE.
std::unique_ptr<CQuarn> startTimed(const char* terminal);
// Sends pattern(size, seed) from the share under the nickname and waits until the sender is told
// it went (0x20040064); the transfer's handle, still open, or 0.
DWORD sendPattern(CQuarn& quarn, const std::string& receiverId, const std::string& nickname, size_t size,
                  unsigned seed);
// Until the receiver's node is listed here (the two nodes have met), at most timeoutMs: whether
// the receiver is sendable.
bool waitSendable(CQuarn& quarn, const std::string& receiverId, DWORD timeoutMs);
