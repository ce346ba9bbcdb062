#pragma once
// The folder every host of a test LAN sees, where the programs on the hosts meet and where they
// ask the test's script for what they cannot do themselves. Each step is a whole file.
#include <windows.h>

#include <string>

// Its Windows path; the program sets it from its arguments.
extern std::string g_share;

std::string sharePath(const std::string& name);
// Written aside and renamed, so that a reader never sees part of it.
void writeShare(const std::string& name, const std::string& text);
// Waits for the file and reads it; whether it came in time (text is left alone when not).
bool readShare(const std::string& name, std::string& text, DWORD timeoutMs);
// Asks the script for NAME (file cue.NAME) and waits until it says done (file done.NAME);
// whether it did in time. A test that goes on without it has the timeout reported.
bool cue(const std::string& name, DWORD timeoutMs, bool reportTimeout = false);
// Tells the others this host's computer name (SELF.name), then its node (SELF.ready).
void announceHost(const std::string& self, const std::string& node);
// GoogleTest takes its flags; the first argument left is the folder.
void initGoogleTestWithShare(int& argc, char** argv);
