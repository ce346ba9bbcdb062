#include "CFileCopy.h"

#include "CDiskFullException.h"
#include "CFileDesc.h"
#include "CHashTable.h"
#include "CIllegalArgumentException.h"
#include "CInteger.h"
#include "CJString.h"
#include "CLocalMethod.h"
#include "CSharedElement.h"
#include "CTavUtility.h"
#include "CTrace.h"
#include "CVector.h"

#include <windows.h>
#include <shlwapi.h>

#include <memory>

namespace {

const char SCOPE[] = "CFileCopy";
const char LOC_COPY[] = "LOC_copy";

// The whole length of the file at path; -1 when there is no such file.
long long lengthOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA status;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &status) ||
        (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return -1;
    return (static_cast<long long>(status.nFileSizeHigh) << 32) | status.nFileSizeLow;
}

// The folder part of a path, with its trailing separator; "." for a bare name.
std::string folderOf(const std::string& path)
{
    std::string::size_type end = path.find_last_of("\\/:");
    if (end == std::string::npos)
        return ".\\";
    return path.substr(0, end + 1);
}

} // namespace

const char CFileCopy::ELEMENT_ID[] = "FA64178C-5C11-4ee2-8B51-447E92D5D136";
const char CFileCopy::JOB_SEPARATOR[] = "*JOB_DESC_SEP_SEP*";
const char CFileCopy::REPORT_SEPARATOR[] = "*REPORT_SEP*";

std::atomic<int> CFileCopy::jobSerial_{0};

CFileCopy::CFileCopy() : cache_(nullptr)
{
    registerMethod(LOC_COPY, &CFileCopy::copy);
    cache_ = new CHashTable();
}

CFileCopy::~CFileCopy()
{
    CVector* keys = cache_->keys();
    for (int i = keys->size() - 1; i >= 0; --i) {
        CJObject* key = keys->elementAt(i);
        CJObject* value = cache_->get(key);
        if (value != nullptr) {
            std::string path = value->toString();
            if (!DeleteFileA(path.c_str()))
                CTrace::trace(SCOPE, " cannot delete " + path + ": error " + std::to_string(GetLastError()), 0);
        }
        cache_->remove(key);
        delete key;
        delete value;
    }
    keys->removeAllElements();
    delete keys;
    delete cache_;
}

std::string CFileCopy::getElementId() const
{
    return ELEMENT_ID;
}

std::string CFileCopy::makeCopyJobDesc(const std::string& reportTargetId, const std::string& reportMethodName,
                                       const std::string& srcFileName, const std::string& dstFileName,
                                       const std::string& dstTID)
{
    int serial = jobSerial_.fetch_add(1);
    std::string job = CInteger::toString(serial);
    for (const std::string* field : {&reportTargetId, &reportMethodName, &srcFileName, &dstFileName, &dstTID}) {
        job += JOB_SEPARATOR;
        job += *field;
    }
    return job;
}

void CFileCopy::getCopyJobField(const std::string& job, std::string* reportTargetId, std::string* reportMethodName,
                                std::string* srcFileName, std::string* dstFileName, std::string* dstTID)
{
    *reportTargetId = CSharedElement::getToken(1, job, JOB_SEPARATOR);
    *reportMethodName = CSharedElement::getToken(2, job, JOB_SEPARATOR);
    *srcFileName = CSharedElement::getToken(3, job, JOB_SEPARATOR);
    *dstFileName = CSharedElement::getToken(4, job, JOB_SEPARATOR);
    *dstTID = CSharedElement::getToken(5, job, JOB_SEPARATOR);
}

std::string CFileCopy::getCopyJobDstTid(const std::string& job)
{
    return CSharedElement::getToken(5, job, JOB_SEPARATOR);
}

std::string CFileCopy::makeCopyReport(const std::string& job, const std::string& dstFileName, int result)
{
    return job + REPORT_SEPARATOR + dstFileName + REPORT_SEPARATOR + CInteger::toString(result);
}

void CFileCopy::getReportField(const std::string& report, std::string* job, std::string* dstFileName, int* result)
{
    *job = CSharedElement::getToken(0, report, REPORT_SEPARATOR);
    *dstFileName = CSharedElement::getToken(1, report, REPORT_SEPARATOR);
    *result = CInteger::parseInt(CSharedElement::getToken(2, report, REPORT_SEPARATOR));
}

bool CFileCopy::isCopySucceeded(const std::string& report)
{
    std::string job;
    std::string dstFileName;
    int result = 0;
    getReportField(report, &job, &dstFileName, &result);
    return result == COPIED || result == REUSED;
}

void CFileCopy::copy(const std::string& job)
{
    std::string reportTargetId;
    std::string reportMethodName;
    std::string srcFileName;
    std::string dstFileName;
    std::string dstTID;
    getCopyJobField(job, &reportTargetId, &reportMethodName, &srcFileName, &dstFileName, &dstTID);
    CTrace::trace(SCOPE, " LOC_copy(" + job + ")", 0);

    int result = dstFileName.empty() ? copyPrivately(srcFileName, &dstFileName)
                                     : copyToDestination(srcFileName, dstFileName);
    std::string report = makeCopyReport(job, dstFileName, result);
    try {
        CLocalMethod::postMethodStr(reportTargetId, reportMethodName, report);
    } catch (const CIllegalArgumentException& e) {
        CTrace::scopedWarning(SCOPE, " the report of " + job + " cannot be posted to " + reportTargetId + ": " +
                                         e.getMessage());
    }
}

int CFileCopy::copyToDestination(const std::string& source, const std::string& destination)
{
    // The copy goes to a temporary file beside the destination and is renamed onto it only when
    // complete, so a failed copy (a full disk) leaves the destination as it was, never cut.
    char temporary[MAX_PATH + 1];
    if (GetTempFileNameA(folderOf(destination).c_str(), "tav", 0, temporary) == 0) {
        DWORD error = GetLastError();
        CTrace::trace(SCOPE, " no temporary file beside " + destination + ": error " + std::to_string(error), 0);
        return error == ERROR_DISK_FULL ? DISK_FULL : FAILED;
    }
    int result = FAILED;
    try {
        if (CTavUtility::cpyFile(source, temporary)) {
            if (MoveFileExA(temporary, destination.c_str(), MOVEFILE_REPLACE_EXISTING))
                return COPIED;
            DWORD error = GetLastError();
            CTrace::trace(SCOPE, " cannot move the copy onto " + destination + ": error " + std::to_string(error), 0);
            if (error == ERROR_DISK_FULL)
                result = DISK_FULL;
        }
    } catch (const CDiskFullException& e) {
        CTrace::trace(SCOPE, " copying " + source + " to " + destination + ": " + e.getMessage(), 0);
        result = DISK_FULL;
    }
    DeleteFileA(temporary);
    return result;
}

int CFileCopy::copyPrivately(const std::string& source, std::string* destination)
{
    std::unique_ptr<CFileDesc> desc(new CFileDesc(source));
    CJString* cached = static_cast<CJString*>(cache_->get(desc.get()));
    if (cached != nullptr) {
        std::string path = cached->toString();
        // Reused only while it is still there in full: a result 2 always names the content.
        if (desc->getLength() >= 0 && lengthOf(path) == desc->getLength()) {
            *destination = path;
            return REUSED;
        }
        CTrace::trace(SCOPE, " the private copy " + path + " is gone or changed; copying " + source + " again", 0);
        // Gone first, so the new copy may take its name.
        DeleteFileA(path.c_str());
    }
    std::string copyPath;
    try {
        if (!CTavUtility::copyToTempFile(source, &copyPath, PathFindFileNameA(source.c_str())))
            return FAILED;
    } catch (const CDiskFullException& e) {
        CTrace::trace(SCOPE, " private copy of " + source + ": " + e.getMessage(), 0);
        return DISK_FULL;
    }
    if (cached != nullptr) {
        // The entry keeps its key and takes the new copy.
        cached->setString(copyPath);
    } else {
        std::unique_ptr<CJString> value(new CJString(copyPath));
        cache_->put(desc.get(), value.get());
        desc.release();
        value.release();
    }
    *destination = copyPath;
    return COPIED;
}
