#include "CQuarnServerSocket.h"

#include "CQuarnComm.h"
#include "CQuarnDataBase.h"
#include "CQuarnFileReceive.h"
#include "CQuarnFileReceivePacket.h"
#include "CQuarnServerBuild.h"
#include "QuarnCodes.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <algorithm>
#include <new>
#include <optional>

namespace {

const WCHAR ROOT[] = L"\\";

// The path behind the handle: nothing or an empty path is the root. False when the units do
// not end inside the data.
bool requestPath(const BYTE* data, DWORD length, std::wstring& path)
{
    DWORD offset = 4;
    if (length == offset)
        path.clear();
    else if (!CQuarnSocket::ParsePath(data, length, offset, path))
        return false;
    if (path.empty())
        path = ROOT;
    return true;
}

// The handle bytes as they came, alone: what a failed request is answered with.
void handleOnly(const BYTE* data, std::vector<BYTE>& reply)
{
    reply.assign(data, data + 4);
}

// What every request starts with: the handle (the reply's start) and the path behind it. The
// status when the request cannot be answered, else 0.
DWORD beginAnswer(const BYTE* data, DWORD length, std::vector<BYTE>& reply, std::wstring& path)
{
    reply.clear();
    if (data == nullptr || length < 4)
        return ERROR_INVALID_PARAMETER;
    handleOnly(data, reply);
    return requestPath(data, length, path) ? 0 : ERROR_INVALID_PARAMETER;
}

} // namespace

CQuarnServerSocket::CQuarnServerSocket(CQuarnComm* comm)
    : m_pComm(comm), m_receiveRecord(0), m_bContentsExpected(false), m_status(ERROR_QUARN_COMM_CONNECTION_CLOSED),
      m_bAborted(false)
{
}

bool CQuarnServerSocket::CreateStream(HWND hWnd, UINT message, WORD port)
{
    if (port == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    return CQuarnStreamSocket::CreateStream(hWnd, message, port);
}

bool CQuarnServerSocket::HandlePacket()
{
    // Only a file packet made here carries the name of a file as its data.
    const CQuarnPacket* next = static_cast<const CQuarnPacket*>(m_receiveQueue.GetFirst());
    bool ownFile = next != nullptr && (next->GetType() & QUARN_COMM_TYPE_FILE_FLAG) != 0;
    WORD type, status;
    DWORD peer, length;
    std::vector<BYTE> data;
    if (!ReceivePacket(&type, &status, &peer, &data, &length))
        return false;
    std::vector<BYTE> reply;
    DWORD answer;
    switch (type) {
    case QUARN_COMM_TYPE_ALIVE:
        if (m_pComm != nullptr)
            m_pComm->OnAlivePacket(data.data(), static_cast<DWORD>(data.size()), m_peerAddress.sin_addr.s_addr);
        return true;
    case QUARN_COMM_TYPE_GET_LOOKUP_DIRECTORY:
        answer = AnswerDirectoryRequest(m_pComm != nullptr ? m_pComm->GetServerDataBase() : nullptr, data.data(),
                                        static_cast<DWORD>(data.size()), reply);
        break;
    case QUARN_COMM_TYPE_QUERY_UPDATE_COUNTER:
        answer = AnswerCounterRequest(m_pComm != nullptr ? m_pComm->GetServerDataBase() : nullptr, data.data(),
                                      static_cast<DWORD>(data.size()), reply);
        break;
    case QUARN_COMM_TYPE_FILE_TRANSFER_OPEN:
        if (m_receiveRecord != 0) {
            // One transfer at a time on a connection; the running one goes on.
            answer = ERROR_BUSY;
        } else if (m_pComm == nullptr) {
            answer = ERROR_NOT_READY;
        } else {
            answer = AnswerFileTransferOpen(m_pComm->GetWatchWindow(), m_pComm->GetReceiveRecords(), data.data(),
                                            static_cast<DWORD>(data.size()), &m_receiveRecord);
            m_bContentsExpected = answer == 0;
            if (answer == 0) {
                m_status = ERROR_QUARN_COMM_CONNECTION_CLOSED;
                m_bAborted = false;
            }
        }
        break;
    case QUARN_COMM_TYPE_FILE_TRANSFER_END:
        if (ownFile && m_pComm != nullptr) {
            std::wstring file(reinterpret_cast<const WCHAR*>(data.data()),
                              std::min<size_t>(length, data.size() / sizeof(WCHAR)));
            if (m_bAborted) {
                // Given up here: what still arrived is not wanted.
                if (!file.empty())
                    DeleteFileW(file.c_str());
                answer = m_status;
                ForgetReceiveRecord(m_status);
                break;
            }
            answer = AnswerFileTransferEnd(m_pComm->GetWatchWindow(), m_pComm->GetReceiveRecords(), m_receiveRecord,
                                           file, UnfoldStatus(status));
            ForgetReceiveRecord(0);
            break;
        }
        QuarnTrace("CQuarnServerSocket::HandlePacket(): type 34 without contents\n");
        answer = ERROR_QUARN_COMMON_INVALID_TYPE;
        break;
    default:
        QuarnTrace("CQuarnServerSocket::HandlePacket(): unknown packet type %u\n", type);
        answer = ERROR_QUARN_COMMON_INVALID_TYPE;
        break;
    }
    if (!SendPacket(type, answer, reply.data(), static_cast<DWORD>(reply.size())))
        QuarnTrace("CQuarnServerSocket::HandlePacket(): reply not queued, error %lu\n", GetLastError());
    return true;
}

DWORD CQuarnServerSocket::AnswerDirectoryRequest(CQuarnDataBase* database, const BYTE* data, DWORD length,
                                                 std::vector<BYTE>& reply)
{
    std::wstring path;
    if (DWORD status = beginAnswer(data, length, reply, path))
        return status;
    std::vector<BYTE> directory(reply);
    if (!GetDirectory(database, path, directory)) {
        DWORD error = GetLastError();
        return error != 0 ? error : ERROR_INVALID_PARAMETER;
    }
    reply.swap(directory);
    return 0;
}

DWORD CQuarnServerSocket::AnswerCounterRequest(CQuarnDataBase* database, const BYTE* data, DWORD length,
                                               std::vector<BYTE>& reply)
{
    std::wstring path;
    if (DWORD status = beginAnswer(data, length, reply, path))
        return status;
    if (database == nullptr || !database->Lock(INFINITE))
        return ERROR_INVALID_PARAMETER;
    DWORD counter;
    bool read = database->GetUpdateCounter(path.c_str(), &counter);
    DWORD error = GetLastError();
    database->Unlock();
    if (!read)
        return error != 0 ? error : ERROR_INVALID_PARAMETER;
    if (!AppendLong(reply, counter)) {
        handleOnly(data, reply);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return 0;
}

bool CQuarnServerSocket::GetDirectory(CQuarnDataBase* database, const std::wstring& path, std::vector<BYTE>& reply)
{
    if (database == nullptr || !database->Lock(INFINITE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    size_t start = reply.size();
    DWORD count = 0;
    DWORD counter = 0;
    bool built = database->GetChildCount(path.c_str(), &count) && database->GetUpdateCounter(path.c_str(), &counter)
        && AppendLong(reply, counter) && AppendLong(reply, count);
    for (DWORD index = 0; built && index < count; ++index) {
        built = GetAtEntryName(*database, path, index, reply);
        // A directory too large for one packet cannot be sent at all.
        if (built && reply.size() > QUARN_PACKET_DATA_LIMIT) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            built = false;
        }
    }
    DWORD error = GetLastError();
    database->Unlock();
    if (!built) {
        reply.resize(start);
        SetLastError(error);
    }
    return built;
}

bool CQuarnServerSocket::GetAtEntryName(CQuarnDataBase& database, const std::wstring& directory, DWORD index,
                                        std::vector<BYTE>& reply)
{
    DWORD size = 0;
    if (!database.GetChildName(directory.c_str(), index, nullptr, &size) && GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    std::wstring name(size, L'\0');
    if (size != 0 && !database.GetChildName(directory.c_str(), index, &name[0], &size))
        return false;
    name.resize(size != 0 ? size - 1 : 0);
    std::wstring full = directory;
    if (full.empty() || full.back() != L'\\')
        full += L'\\';
    full += name;
    DWORD type;
    if (!database.GetEntryType(full.c_str(), &type))
        return false;
    size_t start = reply.size();
    if (!AppendLong(reply, 0) || !AppendLong(reply, type) || !AppendString(reply, name.c_str()))
        return false;
    bool appended = true;
    switch (type) {
    case QUARNTYPE_INT: {
        LONG value;
        appended = database.GetValueInt(full.c_str(), &value) && AppendLong(reply, static_cast<DWORD>(value));
        break;
    }
    case QUARNTYPE_STRING: {
        DWORD characters = 0;
        if (!database.GetValueString(full.c_str(), nullptr, &characters) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            appended = false;
            break;
        }
        std::wstring value(characters, L'\0');
        // An empty value goes as a null item (length 0 alone), as every build's peers write it.
        appended = (characters == 0 || database.GetValueString(full.c_str(), &value[0], &characters))
            && AppendString(reply, characters == 0 || value[0] == L'\0' ? nullptr : value.c_str());
        break;
    }
    case QUARNTYPE_BINARY: {
        DWORD bytes = 0;
        if (!database.GetValueBinary(full.c_str(), nullptr, &bytes) && GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            appended = false;
            break;
        }
        std::vector<BYTE> value(bytes);
        appended = (bytes == 0 || database.GetValueBinary(full.c_str(), value.data(), &bytes))
            && AppendBinary(reply, value.data(), bytes);
        break;
    }
    default:
        break;
    }
    if (!appended) {
        reply.resize(start);
        return false;
    }
    WriteBigEndian32(&reply[start], static_cast<DWORD>(reply.size() - start));
    return true;
}

void CQuarnServerSocket::DestroySocket()
{
    ForgetReceiveRecord(m_status);
    CQuarnStreamSocket::DestroySocket();
}

bool CQuarnServerSocket::Abort(DWORD status)
{
    if (!CQuarnServerBuild::Current().AbortsTransfers() || m_receiveRecord == 0 || m_bAborted)
        return false;
    m_bAborted = true;
    m_status = status;
    DWORD error = GetLastError();
    if (!SendPacket(QUARN_COMM_TYPE_FILE_TRANSFER_ABORT, status, nullptr, 0))
        QuarnTrace("CQuarnServerSocket::Abort(): abort not queued, error %lu\n", GetLastError());
    SetLastError(error);
    return true;
}

CQuarnServerSocket* CQuarnServerSocket::FindDelivering(DWORD record) const
{
    for (CQuarnListItem* item = GetFirst(); record != 0 && item != nullptr && item != this; item = item->GetNext()) {
        CQuarnServerSocket* connection = static_cast<CQuarnServerSocket*>(item);
        if (connection->m_receiveRecord == record)
            return connection;
    }
    return nullptr;
}

void CQuarnServerSocket::ForgetReceiveRecord(DWORD code)
{
    m_bContentsExpected = false;
    if (m_receiveRecord == 0)
        return;
    DWORD error = GetLastError();
    if (m_pComm != nullptr) {
        if (CQuarnFileReceive* record
            = static_cast<CQuarnFileReceive*>(m_pComm->GetReceiveRecords().FindById(m_receiveRecord))) {
            record->SetRunning(false);
            if (code != 0) {
                record->Tell(m_pComm->GetWatchWindow(), code);
                if (CQuarnServerBuild::Current().AbortsTransfers())
                    delete record;
            }
        }
    }
    m_receiveRecord = 0;
    SetLastError(error);
}

CQuarnPacket* CQuarnServerSocket::MakeFilePacket(const BYTE* header)
{
    WORD type = ReadBigEndian16(header);
    CQuarnFileReceive* record = nullptr;
    if (m_pComm != nullptr && m_bContentsExpected)
        record = static_cast<CQuarnFileReceive*>(m_pComm->GetReceiveRecords().FindById(m_receiveRecord));
    if (type != (QUARN_COMM_TYPE_FILE_TRANSFER_END | QUARN_COMM_TYPE_FILE_FLAG) || record == nullptr) {
        QuarnTrace("CQuarnServerSocket::MakeFilePacket(): contents of type 0x%04X that no open waits for\n", type);
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    m_bContentsExpected = false;
    // Progress that reaches no application gives the transfer up.
    return CQuarnFileReceivePacket::Make(header, m_pComm->GetReceiveRecords(), m_receiveRecord,
                                         m_pComm->GetWatchWindow(),
                                         [this] { Abort(ERROR_QUARN_COMM_TRANSFER_ABORTED); });
}

DWORD CQuarnServerSocket::AnswerFileTransferOpen(CQuarnWatchWindow* watch, CQuarnFileReceive& records, const BYTE* data,
                                                 DWORD length, DWORD* pRecord)
{
    *pRecord = 0;
    if (data == nullptr || length == 0)
        return ERROR_INVALID_PARAMETER;
    DWORD offset = 0;
    std::optional<std::wstring> destination, sender, nickname;
    if (!ParseString(data, length, offset, destination) || !ParseString(data, length, offset, sender)
        || !ParseString(data, length, offset, nickname))
        return ERROR_INVALID_PARAMETER;
    CQuarnFileReceive* record = new (std::nothrow) CQuarnFileReceive;
    if (record == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD status = 0;
    const std::wstring root = ROOT;
    if (!record->SetTexts(nickname ? &*nickname : nullptr, sender ? &*sender : nullptr)
        || !record->SetDestination(watch, destination && !destination->empty() ? *destination : root))
        status = GetLastError();
    else if (!records.MakeRoom())
        status = ERROR_TOO_MANY_OPEN_FILES;
    else if (!record->Tell(watch, QUARN_STATUS_RECEIVE_PROGRESS))
        status = GetLastError();
    else if (!record->LinkTail(&records))
        status = GetLastError();
    if (status != 0) {
        delete record;
        return status;
    }
    record->SetRunning(true);
    *pRecord = record->GetId();
    return 0;
}

DWORD CQuarnServerSocket::AnswerFileTransferEnd(CQuarnWatchWindow* watch, CQuarnFileReceive& records, DWORD record,
                                                const std::wstring& file, DWORD status)
{
    CQuarnFileReceive* receive = static_cast<CQuarnFileReceive*>(records.FindById(record));
    if (receive == nullptr) {
        // No application waits for it any more.
        if (!file.empty())
            DeleteFileW(file.c_str());
        return status != 0 ? status : ERROR_QUARN_COMM_CONNECTION_CLOSED;
    }
    // From now on the record deletes the file when it goes.
    receive->SetReceivedFile(file);
    if (status != 0) {
        receive->Tell(watch, status);
    } else if (!receive->Tell(watch, QUARN_STATUS_RECEIVE_PROGRESS + 100)) {
        status = GetLastError();
        if (status == ERROR_QUARN_COMMON_INVALID_PATH || status == 0)
            status = ERROR_QUARN_COMM_CONNECTION_CLOSED;
    }
    if (status != 0)
        delete receive;
    return status;
}
