#pragma once
// The raw peer's file-transfer parts: a receiving node that answers a sender as told (accepts,
// refuses, lies, stops reading, goes away), a sender that delivers to a node or breaks off, and
// a sender of corrupted transfer packets. Each prints what it saw; the exit code is 0 when what
// it checks itself held.
#include <winsock2.h>

#include <string>

//   receive IP PORT STOPFILE CUE   a node of its own announced to IP, until STOPFILE appears;
//       CUE accept | refuse | unknown (an answer of type 99) | stall (stops reading halfway
//       through the contents) | close-half (goes halfway through) | stop-listening (closes
//       its listening socket once the first connection came) | lookup-contents (contents over
//       every connection as it comes)
int rawReceive(DWORD address, WORD port, const std::string& stopFile, const std::string& cue);
//   send IP PORT DEST SRC NICK CUE SIZE [ARG]   an open to the node, then by CUE: full (SIZE
//       bytes), badcrc, half (closes halfway), pause (halfway until the file ARG appears),
//       raw34 (a plain type 34 naming the file ARG), second-open, wrongtype (contents of type
//       0x8023), nocontents (contents with no open before), after-end (contents again after a
//       whole transfer), open-only
int rawSend(DWORD address, WORD port, const std::string& destination, const std::string& source,
            const std::string& nickname, const std::string& cue, unsigned long long size, const std::string& arg);
//   blast-files IP PORT DEST [COUNT [KIND]]   COUNT (100000) corrupted opens, plain type 34
//       and contents to the node, most with a CRC that holds, the opens mostly for DEST; after
//       each connection's stream, a connection that the contents on it break. KIND: mix, or
//       only dropped (CRC broken), answered (opens and type 34) or units (open and contents).
int rawBlastFiles(DWORD address, WORD port, const std::string& destination, int count, const std::string& kind);
