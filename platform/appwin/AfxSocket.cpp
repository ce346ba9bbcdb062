#include "AfxSocket.h"

#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_lock;
bool g_started = false;
WSADATA g_data = {};

void cleanUp() {
    WSACleanup();
}
}

BOOL AfxSocketInit(WSADATA* data) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (!g_started) {
        if (WSAStartup(MAKEWORD(1, 1), &g_data) != 0)
            return FALSE;
        // A library that gives us less than 1.1 cannot serve the program.
        if (LOBYTE(g_data.wVersion) < 1 || (LOBYTE(g_data.wVersion) == 1 && HIBYTE(g_data.wVersion) < 1)) {
            WSACleanup();
            return FALSE;
        }
        g_started = true;
        atexit(cleanUp);
    }
    if (data)
        *data = g_data;
    return TRUE;
}
