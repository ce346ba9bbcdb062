#pragma once
// The program's one diagnostic channel: filtered, thread-tagged trace lines to the console or
// to "log.dat", fatal stops, the live-object counter and the per-thread lock lists that catch
// deadlocks. One process-wide instance; every operation is static.
#include <string>

class CTrace {
public:
    CTrace();
    ~CTrace();
    CTrace(const CTrace&) = delete;
    CTrace& operator=(const CTrace&) = delete;

    static void trace(std::string scope, std::string message, int level = 0);
    static void out(std::string message, int level = 0);
    static void write(std::string message);
    static void scopedWrite(std::string scope, std::string message);

    static void attention(std::string message);
    static void scopedAttention(std::string scope, std::string message);
    static void warning(std::string message);
    static void scopedWarning(std::string scope, std::string message);
    static void error(std::string message, int exitCode);
    static void scopedError(std::string scope, std::string message, int exitCode);
    [[noreturn]] static void fatalError(std::string message, int exitCode);
    [[noreturn]] static void scopedFatalError(std::string scope, std::string message, int exitCode);
    static void assertTrue(bool condition, std::string message, int exitCode);
    static void scopedAssertTrue(bool condition, std::string scope, std::string message, int exitCode);

    static void attentionBox(std::string message);
    static void warningBox(std::string message);

    [[noreturn]] static void abort(std::string message, int exitCode);

    static void setThreadName(std::string name);
    static void setDumpLevel(int level);
    static void setTimeStamp(bool on);
    static void setAbortOnError(bool on);
    static void setCodeScope(std::string list);
    static void setOutputToFile();
    static void setOutputToConsole();
    static void setDumpOn();
    static void setDumpOff();
    static bool isDump();

    static void countUp();
    static void countUp(std::string className);
    static void countDown();
    static void countDown(std::string className);

    // Lock tracking: identity is the address of the monitor being entered.
    static void pushLock(const void* identity, int number, std::string place);
    static void popLock(const void* identity);

private:
    static void output(std::string line);
    static void appendToLogFile(std::string line);
    static std::string threadTag();

    bool owner_;
};

// Builds the trace facility before the static objects of any source file that includes this
// header, and takes it down after the last of them (the iostream technique).
struct CTraceInitializer {
    CTraceInitializer();
    ~CTraceInitializer();
};
static CTraceInitializer s_traceInitializer;
