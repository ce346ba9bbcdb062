// The file copy element started as the program starts it, its reports posted to a recording
// element, its files in a private temporary path.
#include "CFileCopy.h"

#include "CLocalMethod.h"
#include "CTavUtility.h"
#include "CTrace.h"

#include "FileFixtures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const std::string REPORT_METHOD = "LOC_onFileCopied";

// Keeps every report it is posted.
class Recorder : public CElement {
public:
    Recorder() { registerMethod(REPORT_METHOD, &Recorder::onFileCopied); }
    void onFileCopied(const std::string& report) { reports.add(report); }
    Journal reports;
};

struct Report {
    std::string job;
    std::string destination;
    int result = -1;
};

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A copy that writes part of the file, then fails as a full disk does.
BOOL WINAPI cutByFullDisk(LPCSTR, LPCSTR destination, BOOL)
{
    HANDLE file = CreateFileA(destination, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, "cut", 3, &written, NULL);
        CloseHandle(file);
    }
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

BOOL WINAPI deniedCopy(LPCSTR, LPCSTR, BOOL)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

class CopySeam {
public:
    explicit CopySeam(CTavUtility::CopyFunction copy) : previous_(CTavUtility::setCopyFunction(copy)) {}
    ~CopySeam() { CTavUtility::setCopyFunction(previous_); }

private:
    CTavUtility::CopyFunction previous_;
};

class FileCopyElement : public ::testing::Test {
protected:
    FileCopyElement()
    {
        savedTmp_ = save("TMP");
        savedTemp_ = save("TEMP");
        std::string temp = dir_.file("tmp") + "\\";
        CreateDirectoryA(temp.c_str(), NULL);
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("TEMP", temp.c_str());
        utility_.reset(new CTavUtility());
        char folder[MAX_PATH + 1];
        EXPECT_TRUE(CTavUtility::getTavTempPath(sizeof(folder), folder));
        tempFolder_ = folder;
        CreateDirectoryA(dir_.file("src").c_str(), NULL);
        CreateDirectoryA(dir_.file("dst").c_str(), NULL);
        recorder_.start("RECORDER");
        copier_ = new CFileCopy();
        copier_->start("FILE_COPY");
    }

    ~FileCopyElement() override
    {
        destroyCopier();
        recorder_.end();
        utility_.reset();
        SetEnvironmentVariableA("TMP", savedTmp_.empty() ? NULL : savedTmp_.c_str());
        SetEnvironmentVariableA("TEMP", savedTemp_.empty() ? NULL : savedTemp_.c_str());
    }

    void destroyCopier()
    {
        if (copier_ == nullptr)
            return;
        copier_->end();
        delete copier_;
        copier_ = nullptr;
    }

    static std::string save(const char* name)
    {
        char value[32768];
        DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
        return length > 0 && length < sizeof(value) ? std::string(value, length) : std::string();
    }

    // Posts a job as the stage and the contents do and waits for its report.
    Report run(const std::string& source, const std::string& destination = "", const std::string& target = "")
    {
        std::string job = CFileCopy::makeCopyJobDesc(target.empty() ? recorder_.getObjectId() : target,
                                                     REPORT_METHOD, source, destination, "T-7");
        size_t before = recorder_.reports.entries().size();
        CLocalMethod::postMethodStr(copier_->getObjectId(), "LOC_copy", job);
        Report report;
        if (!target.empty())
            return report;
        if (!recorder_.reports.waitFor(before + 1, 20000)) {
            ADD_FAILURE() << "no report of " << job;
            return report;
        }
        std::string text = recorder_.reports.entries()[before];
        CFileCopy::getReportField(text, &report.job, &report.destination, &report.result);
        EXPECT_EQ(job, report.job);
        EXPECT_EQ("T-7", CFileCopy::getCopyJobDstTid(report.job));
        return report;
    }

    std::string source(const std::string& name, const std::string& bytes)
    {
        std::string path = dir_.file("src\\" + name);
        writeFile(path, bytes);
        return path;
    }

    bool inTempFolder(const std::string& path) const
    {
        return path.size() > tempFolder_.size() && path.compare(0, tempFolder_.size(), tempFolder_) == 0;
    }

    TempDir dir_;
    std::string savedTmp_;
    std::string savedTemp_;
    std::unique_ptr<CTavUtility> utility_;
    std::string tempFolder_;
    Recorder recorder_;
    CFileCopy* copier_ = nullptr;
};

TEST_F(FileCopyElement, OneFileTwiceIsCopiedOnceThenReused)
{
    std::string path = source("photo.jpg", "picture bytes");
    Report first = run(path);
    EXPECT_EQ(CFileCopy::COPIED, first.result);
    EXPECT_TRUE(inTempFolder(first.destination)) << first.destination;
    EXPECT_NE(std::string::npos, first.destination.find("photo.jpg")) << first.destination;
    EXPECT_EQ(".jpg", first.destination.substr(first.destination.size() - 4));
    EXPECT_EQ("picture bytes", fileBytes(first.destination));

    Report second = run(path);
    EXPECT_EQ(CFileCopy::REUSED, second.result);
    EXPECT_EQ(first.destination, second.destination);
    EXPECT_EQ(1u, filesIn(tempFolder_).size());
}

TEST_F(FileCopyElement, TwoFilesOfEqualSizeAndTimesGetACopyEach)
{
    CreateDirectoryA(dir_.file("src\\other").c_str(), NULL);
    std::string a = source("pic.bmp", "AAAA");
    std::string b = source("other\\pic.bmp", "BBBB");
    setTimes(a, 0);
    setTimes(b, 0);
    Report first = run(a);
    Report second = run(b);
    EXPECT_EQ(CFileCopy::COPIED, first.result);
    EXPECT_EQ(CFileCopy::COPIED, second.result);
    EXPECT_NE(first.destination, second.destination);
    EXPECT_EQ("AAAA", fileBytes(first.destination));
    EXPECT_EQ("BBBB", fileBytes(second.destination));
}

TEST_F(FileCopyElement, ADeletedPrivateCopyIsMadeAgain)
{
    std::string path = source("doc.txt", "text of the document");
    Report first = run(path);
    ASSERT_EQ(CFileCopy::COPIED, first.result);
    ASSERT_TRUE(DeleteFileA(first.destination.c_str()));
    Report second = run(path);
    EXPECT_EQ(CFileCopy::COPIED, second.result);
    EXPECT_EQ("text of the document", fileBytes(second.destination));
    Report third = run(path);
    EXPECT_EQ(CFileCopy::REUSED, third.result);
    EXPECT_EQ(second.destination, third.destination);
    EXPECT_EQ(1u, filesIn(tempFolder_).size());
}

TEST_F(FileCopyElement, APrivateCopyOfAnotherSizeIsReplaced)
{
    std::string path = source("doc.txt", "full text");
    Report first = run(path);
    ASSERT_EQ(CFileCopy::COPIED, first.result);
    writeFile(first.destination, "cu");
    // The source keeps its identity (the same times), only the copy was cut.
    Report second = run(path);
    EXPECT_EQ(CFileCopy::COPIED, second.result);
    EXPECT_EQ("full text", fileBytes(second.destination));
    EXPECT_EQ(1u, filesIn(tempFolder_).size());
}

TEST_F(FileCopyElement, AChangedFileGetsASecondCopyAndTheFirstStays)
{
    struct Change {
        const char* what;
        void (*apply)(const std::string& path);
    };
    const Change changes[] = {
        {"size", [](const std::string& path) { writeFile(path, "longer content");  setTimes(path, 0); }},
        {"time", [](const std::string& path) { setTimes(path, 3600); }},
    };
    std::vector<std::string> copies;
    for (const Change& change : changes) {
        std::string path = source(std::string(change.what) + ".txt", "content");
        setTimes(path, 0);
        Report first = run(path);
        ASSERT_EQ(CFileCopy::COPIED, first.result) << change.what;
        change.apply(path);
        Report second = run(path);
        EXPECT_EQ(CFileCopy::COPIED, second.result) << change.what;
        EXPECT_NE(first.destination, second.destination) << change.what;
        EXPECT_EQ(fileBytes(path), fileBytes(second.destination)) << change.what;
        EXPECT_EQ("content", fileBytes(first.destination)) << change.what;
        copies.push_back(first.destination);
        copies.push_back(second.destination);
    }
    destroyCopier();
    for (const std::string& copy : copies)
        EXPECT_FALSE(exists(copy)) << copy;
}

TEST_F(FileCopyElement, ACopyToADestinationOverwritesIt)
{
    std::string path = source("report.pdf", "new content");
    std::string destination = dir_.file("dst\\report.pdf");
    writeFile(destination, "old content that is longer");
    Report report = run(path, destination);
    EXPECT_EQ(CFileCopy::COPIED, report.result);
    EXPECT_EQ(destination, report.destination);
    EXPECT_EQ("new content", fileBytes(destination));
    EXPECT_EQ(std::set<std::string>{"report.pdf"}, filesIn(dir_.file("dst\\")));
    EXPECT_TRUE(filesIn(tempFolder_).empty());
    // A destination that did not exist yet.
    std::string fresh = dir_.file("dst\\fresh.pdf");
    EXPECT_EQ(CFileCopy::COPIED, run(path, fresh).result);
    EXPECT_EQ("new content", fileBytes(fresh));
}

TEST_F(FileCopyElement, FailedCopiesReportTheirCauseAndLeaveNothingBehind)
{
    struct Case {
        const char* what;
        CTavUtility::CopyFunction copy;
        int result;
    };
    const Case cases[] = {
        {"a full disk", cutByFullDisk, CFileCopy::DISK_FULL},
        {"access denied", deniedCopy, CFileCopy::FAILED},
    };
    std::string path = source("movie.avi", "movie");
    std::string destination = dir_.file("dst\\movie.avi");
    for (const Case& c : cases) {
        writeFile(destination, "the old movie");
        {
            CopySeam seam(c.copy);
            Report named = run(path, destination);
            EXPECT_EQ(c.result, named.result) << c.what;
            EXPECT_EQ(destination, named.destination) << c.what;
            Report own = run(path);
            EXPECT_EQ(c.result, own.result) << c.what;
            EXPECT_EQ("", own.destination) << c.what;
        }
        EXPECT_EQ("the old movie", fileBytes(destination)) << c.what;
        EXPECT_EQ(std::set<std::string>{"movie.avi"}, filesIn(dir_.file("dst\\"))) << c.what;
        EXPECT_TRUE(filesIn(tempFolder_).empty()) << c.what;
    }
    // Once the disk has room again the private copy is made.
    Report own = run(path);
    EXPECT_EQ(CFileCopy::COPIED, own.result);
    EXPECT_EQ("movie", fileBytes(own.destination));
}

TEST_F(FileCopyElement, AMissingSourceFails)
{
    std::string missing = dir_.file("src\\gone.jpg");
    std::string destination = dir_.file("dst\\gone.jpg");
    Report named = run(missing, destination);
    EXPECT_EQ(CFileCopy::FAILED, named.result);
    EXPECT_EQ(destination, named.destination);
    EXPECT_FALSE(exists(destination));
    EXPECT_TRUE(filesIn(dir_.file("dst\\")).empty());
    Report own = run(missing);
    EXPECT_EQ(CFileCopy::FAILED, own.result);
    EXPECT_EQ("", own.destination);
    EXPECT_TRUE(filesIn(tempFolder_).empty());
}

TEST_F(FileCopyElement, AReportToAnUnknownObjectIsTracedAndTheNextOneArrives)
{
    TraceCapture trace;
    std::string path = source("a.gif", "gif");
    run(path, "", "no-such-object");
    Report next = run(path);
    EXPECT_EQ(CFileCopy::REUSED, next.result);
    EXPECT_TRUE(waitUntil([&trace] { return trace.count("cannot be posted to no-such-object") > 0; })) << trace.text();
    EXPECT_EQ(1u, recorder_.reports.entries().size());
}

TEST_F(FileCopyElement, DestructionDeletesItsPrivateCopiesAndNothingElse)
{
    std::string a = source("a.png", "a");
    std::string b = source("b.jpg", "bb");
    std::string named = dir_.file("dst\\a.png");
    Report copyA = run(a);
    Report copyB = run(b);
    run(a);
    ASSERT_EQ(CFileCopy::COPIED, run(a, named).result);
    std::string foreign = tempFolder_ + "someone else's.txt";
    writeFile(foreign, "keep");
    ASSERT_EQ(3u, filesIn(tempFolder_).size());

    destroyCopier();
    EXPECT_FALSE(exists(copyA.destination));
    EXPECT_FALSE(exists(copyB.destination));
    EXPECT_EQ(std::set<std::string>{"someone else's.txt"}, filesIn(tempFolder_));
    EXPECT_EQ("a", fileBytes(a));
    EXPECT_EQ("bb", fileBytes(b));
    EXPECT_EQ("a", fileBytes(named));
}

} // namespace
