#pragma once
// The local element that copies files for the rest of the program: "LOC_copy" takes a copy job
// and, once the job is done, posts a copy report to the job's report method and target object.
//
// A job with a destination copies the source there. A job without one asks for a private copy
// in the process temp folder; private copies are cached by the source's identity (CFileDesc),
// so a file dropped again is not copied again, and are deleted when the element is destroyed.
//
// Job:    serial, report target, report method, source, destination, destination terminal,
//         joined by "*JOB_DESC_SEP_SEP*".
// Report: the job as received, the destination (the private copy's path, or empty when none was
//         made), the result code; joined by "*REPORT_SEP*".
// A path holding one of the separator words cannot be carried: its fields split there.
//
// The text operations are static and may be called on any thread. "LOC_copy" runs only on the
// element's handler thread; the cache is used there and by the destructor (after end()).
#include "CElement.h"

#include <atomic>
#include <string>

class CHashTable;

class CFileCopy : public CElement {
public:
    // Result codes of a report; 1 and 2 are successes.
    enum Result { COPIED = 1, REUSED = 2, DISK_FULL = 3, FAILED = 4 };

    static const char ELEMENT_ID[];
    static const char JOB_SEPARATOR[];
    static const char REPORT_SEPARATOR[];

    CFileCopy();
    // Deletes every private copy in the cache, from the last key to the first.
    ~CFileCopy() override;

    std::string getElementId() const override;

    // Each call takes the next process-wide serial (from 0), so no two jobs are equal.
    static std::string makeCopyJobDesc(const std::string& reportTargetId, const std::string& reportMethodName,
                                       const std::string& srcFileName, const std::string& dstFileName,
                                       const std::string& dstTID);
    // Fields 1 to 5 of a job; the serial is not returned.
    static void getCopyJobField(const std::string& job, std::string* reportTargetId, std::string* reportMethodName,
                                std::string* srcFileName, std::string* dstFileName, std::string* dstTID);
    static std::string getCopyJobDstTid(const std::string& job);
    static std::string makeCopyReport(const std::string& job, const std::string& dstFileName, int result);
    // The result as atoi reads it: a field without leading digits gives 0.
    static void getReportField(const std::string& report, std::string* job, std::string* dstFileName, int* result);
    static bool isCopySucceeded(const std::string& report);

    // "LOC_copy".
    void copy(const std::string& job);

private:
    int copyToDestination(const std::string& source, const std::string& destination);
    int copyPrivately(const std::string& source, std::string* destination);

    CHashTable* cache_; // CFileDesc key -> CJString path of its private copy; owns both
    static std::atomic<int> jobSerial_;
};
