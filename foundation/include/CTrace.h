#pragma once
// The program's one diagnostic channel: filtered, thread-tagged trace lines to the console or
// to "log.dat", fatal stops, the live-object counter and the per-thread lock lists that catch
// deadlocks. One process-wide instance; every operation is static.
#include <string>
#include <string_view>

class CTrace {
public:
    CTrace();
    ~CTrace();
    CTrace(const CTrace&) = delete;
    CTrace& operator=(const CTrace&) = delete;

    // Texts are taken as views: a literal scope or message costs no copy, and a text that the
    // filters reject is never copied at all.
    static void trace(std::string_view scope, std::string_view message, int level = 0);
    // Whether trace(scope, ..., level) would write its line now. Lets a caller skip building a
    // text that nobody reads; takes no lock unless a code scope is set.
    static bool isTraced(std::string_view scope, int level = 0);
    static void out(std::string_view message, int level = 0);
    static void write(std::string_view message);
    static void scopedWrite(std::string_view scope, std::string_view message);

    static void attention(std::string_view message);
    static void scopedAttention(std::string_view scope, std::string_view message);
    static void warning(std::string_view message);
    static void scopedWarning(std::string_view scope, std::string_view message);
    static void error(std::string_view message, int exitCode);
    static void scopedError(std::string_view scope, std::string_view message, int exitCode);
    [[noreturn]] static void fatalError(std::string_view message, int exitCode);
    [[noreturn]] static void scopedFatalError(std::string_view scope, std::string_view message, int exitCode);
    static void assertTrue(bool condition, std::string_view message, int exitCode);
    static void scopedAssertTrue(bool condition, std::string_view scope, std::string_view message, int exitCode);

    static void attentionBox(std::string_view message);
    static void warningBox(std::string_view message);

    [[noreturn]] static void abort(std::string_view message, int exitCode);

    static void setThreadName(std::string_view name);
    static void setDumpLevel(int level);
    static void setTimeStamp(bool on);
    static void setAbortOnError(bool on);
    static void setCodeScope(std::string_view list);
    static void setOutputToFile();
    static void setOutputToConsole();
    static void setDumpOn();
    static void setDumpOff();
    static bool isDump();

    static void countUp();
    static void countUp(std::string_view className);
    static void countDown();
    static void countDown(std::string_view className);

    // Lock tracking: identity is the address of the monitor being entered.
    static void pushLock(const void* identity, int number, std::string_view place);
    static void popLock(const void* identity);

private:
    static void output(std::string_view line);
    static void appendToLogFile(std::string_view line);
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
