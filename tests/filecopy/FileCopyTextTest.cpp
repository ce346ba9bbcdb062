// The texts of copy jobs and reports: built and read back by static calls on any thread.
#include "CFileCopy.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string JOB_SEP = "*JOB_DESC_SEP_SEP*";
const std::string REPORT_SEP = "*REPORT_SEP*";

struct JobFields {
    std::string target, method, source, destination, terminal;
};

JobFields jobFields(const std::string& job)
{
    JobFields f;
    CFileCopy::getCopyJobField(job, &f.target, &f.method, &f.source, &f.destination, &f.terminal);
    return f;
}

TEST(FileCopyText, FirstJobIsSerialZeroWithFiveEmptyFields)
{
    // Each test case runs in a process of its own, so this is the process's first job.
    std::string job = CFileCopy::makeCopyJobDesc("", "", "", "", "");
    EXPECT_EQ("0" + JOB_SEP + JOB_SEP + JOB_SEP + JOB_SEP + JOB_SEP, job);
    JobFields f = jobFields(job);
    EXPECT_EQ("", f.target);
    EXPECT_EQ("", f.method);
    EXPECT_EQ("", f.source);
    EXPECT_EQ("", f.destination);
    EXPECT_EQ("", f.terminal);
    EXPECT_EQ("", CFileCopy::getCopyJobDstTid(job));
    EXPECT_EQ("1" + JOB_SEP + "a" + JOB_SEP + "b" + JOB_SEP + "c" + JOB_SEP + "d" + JOB_SEP + "e",
              CFileCopy::makeCopyJobDesc("a", "b", "c", "d", "e"));
}

TEST(FileCopyText, JobFieldsReadBackAsBuilt)
{
    std::string job = CFileCopy::makeCopyJobDesc("17", "LOC_onFileCopied", "C:\\pics\\a b.jpg", "C:\\out\\x.jpg",
                                                 "{0A1B-TERM}");
    JobFields f = jobFields(job);
    EXPECT_EQ("17", f.target);
    EXPECT_EQ("LOC_onFileCopied", f.method);
    EXPECT_EQ("C:\\pics\\a b.jpg", f.source);
    EXPECT_EQ("C:\\out\\x.jpg", f.destination);
    EXPECT_EQ("{0A1B-TERM}", f.terminal);
    EXPECT_EQ("{0A1B-TERM}", CFileCopy::getCopyJobDstTid(job));
    EXPECT_STREQ("FA64178C-5C11-4ee2-8B51-447E92D5D136", CFileCopy::ELEMENT_ID);
}

TEST(FileCopyText, ReportGivesBackTheJobUnchanged)
{
    std::vector<std::string> jobs = {
        CFileCopy::makeCopyJobDesc("3", "LOC_onFileCopied", "C:\\a.bmp", "", ""),
        CFileCopy::makeCopyJobDesc("", "", "", "", ""),
        CFileCopy::makeCopyJobDesc("3", "M", "C:\\with" + JOB_SEP + "sep.bmp", "D:\\x", "T"),
        "",
    };
    for (const std::string& job : jobs) {
        std::string report = CFileCopy::makeCopyReport(job, "C:\\tmp\\a.bmp", 1);
        EXPECT_EQ(job + REPORT_SEP + "C:\\tmp\\a.bmp" + REPORT_SEP + "1", report);
        std::string readJob, destination;
        int result = -1;
        CFileCopy::getReportField(report, &readJob, &destination, &result);
        EXPECT_EQ(job, readJob);
        EXPECT_EQ("C:\\tmp\\a.bmp", destination);
        EXPECT_EQ(1, result);
        EXPECT_EQ(job, report.substr(0, report.find(REPORT_SEP)));
    }
}

TEST(FileCopyText, ResultIsReadAsAtoiAndOnlyOneAndTwoSucceed)
{
    struct Case {
        std::string field;
        int result;
        bool succeeded;
    };
    const Case cases[] = {
        {"1", 1, true},   {"2", 2, true},    {"3", 3, false},   {"4", 4, false}, {"0", 0, false},
        {"", 0, false},   {"x", 0, false},   {"x2", 0, false},  {"2abc", 2, true}, {" 1", 1, true},
        {"-2", -2, false}, {"12", 12, false}, {"+2", 2, true},
    };
    std::string job = CFileCopy::makeCopyJobDesc("t", "m", "s", "", "");
    for (const Case& c : cases) {
        std::string report = job + REPORT_SEP + "C:\\d" + REPORT_SEP + c.field;
        std::string readJob, destination;
        int result = -1;
        CFileCopy::getReportField(report, &readJob, &destination, &result);
        EXPECT_EQ(c.result, result) << "'" << c.field << "'";
        EXPECT_EQ(std::atoi(c.field.c_str()), result) << "'" << c.field << "'";
        EXPECT_EQ(c.succeeded, CFileCopy::isCopySucceeded(report)) << "'" << c.field << "'";
    }
    // A report cut before its result field has none: 0, no success.
    EXPECT_FALSE(CFileCopy::isCopySucceeded(job + REPORT_SEP + "C:\\d"));
    EXPECT_FALSE(CFileCopy::isCopySucceeded(job));
}

TEST(FileCopyText, EightThreadsGetDistinctSerials)
{
    const int THREADS = 8;
    const int JOBS = 1000;
    std::vector<std::vector<std::string>> made(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t)
        threads.emplace_back([&made, t] {
            for (int i = 0; i < JOBS; ++i)
                made[t].push_back(CFileCopy::makeCopyJobDesc("t", "m", "s", "", ""));
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<int> serials;
    for (const std::vector<std::string>& jobs : made)
        for (const std::string& job : jobs)
            serials.insert(std::atoi(job.substr(0, job.find(JOB_SEP)).c_str()));
    EXPECT_EQ(static_cast<size_t>(THREADS * JOBS), serials.size());
    EXPECT_EQ(0, *serials.begin());
    EXPECT_EQ(THREADS * JOBS - 1, *serials.rbegin());
}

// Reports and jobs broken in many seeded ways: the readers never fault, field 0 of a report is
// the text before its first separator and the result is atoi of what follows the second.
TEST(FileCopyText, CorruptedReportsAndJobsAreReadSafely)
{
    const int CASES = 100000;
    const auto LIMIT = std::chrono::seconds(120);
    const unsigned SEED = 20261211;
    std::mt19937 random(SEED);
    auto below = [&random](size_t n) { return n == 0 ? 0 : static_cast<size_t>(random() % n); };
    std::string job = CFileCopy::makeCopyJobDesc("12", "LOC_onFileCopied", "C:\\p\\a.jpg", "", "T-1");
    std::string report = CFileCopy::makeCopyReport(job, "C:\\tmp\\a.jpg", 2);
    const std::string pieces[] = {JOB_SEP, REPORT_SEP, "*", "1", "x", std::string(1, '\0')};
    auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < CASES; ++n) {
        std::string text = n % 2 == 0 ? report : job;
        for (size_t edits = 1 + below(4); edits > 0; --edits) {
            switch (below(4)) {
            case 0:
                text.resize(below(text.size() + 1));
                break;
            case 1:
                text.insert(below(text.size() + 1), pieces[below(6)]);
                break;
            case 2:
                if (!text.empty())
                    text.erase(below(text.size()), 1 + below(20));
                break;
            default:
                if (!text.empty())
                    text[below(text.size())] = static_cast<char>(random());
                break;
            }
        }
        std::string readJob, destination;
        int result = -1;
        CFileCopy::getReportField(text, &readJob, &destination, &result);
        size_t first = text.find(REPORT_SEP);
        ASSERT_EQ(text.substr(0, first), readJob) << "seed " << SEED << " case " << n;
        size_t second = first == std::string::npos ? first : text.find(REPORT_SEP, first + REPORT_SEP.size());
        std::string resultField = second == std::string::npos ? "" : text.substr(second + REPORT_SEP.size());
        if (resultField.find(REPORT_SEP) != std::string::npos)
            resultField.erase(resultField.find(REPORT_SEP));
        ASSERT_EQ(std::atoi(resultField.c_str()), result) << "seed " << SEED << " case " << n;
        ASSERT_EQ(result == 1 || result == 2, CFileCopy::isCopySucceeded(text));
        JobFields f = jobFields(text);
        ASSERT_LE(f.target.size() + f.method.size() + f.source.size() + f.destination.size() + f.terminal.size(),
                  text.size());
        if (n % 1000 == 0) {
            ASSERT_LT(std::chrono::steady_clock::now() - start, LIMIT) << "seed " << SEED << " case " << n;
        }
    }
}

} // namespace
