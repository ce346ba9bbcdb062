#pragma once
// What quarnhost's -RegServer writes, as its clients on a test LAN read it back.
#include <string>

// The module's own keys and values (the shared ProgIDs aside), the class Programmable and
// served by the module at that path; each that differs is a failure of the running test.
void expectQuarnhostKeys(const std::string& module);
