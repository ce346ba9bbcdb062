#pragma once
// Whole packets as bytes, for tests that feed or send them.
#include <windows.h>

#include <vector>

// Header, the data padded to 4 with zeros, and the CRC.
std::vector<BYTE> packetBytes(WORD type, WORD foldedStatus, const std::vector<BYTE>& data);
// Writes the CRC of everything before the last 4 bytes into them (at least 4 bytes).
void recomputeCrc(std::vector<BYTE>& packet);
// Draws every byte of a sending packet from its pieces, one piece step at a time.
class CQuarnPacket;
std::vector<BYTE> drain(CQuarnPacket& packet, DWORD step = 0xFFFFFFFF);
