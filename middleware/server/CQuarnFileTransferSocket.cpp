#include "CQuarnFileTransferSocket.h"

#include "CQuarnFileReadPacket.h"
#include "CQuarnServerBuild.h"
#include "CQuarnSrvCore.h"
#include "QuarnCodes.h"
#include "QuarnMessages.h"
#include "QuarnTempFile.h"
#include "QuarnTrace.h"
#include "QuarnWire.h"

#include <new>
#include <vector>

CQuarnFileTransferSocket::CQuarnFileTransferSocket(CQuarnSrvCore* core)
    : m_pCore(core), m_hSenderWnd(nullptr), m_hTempFile(INVALID_HANDLE_VALUE), m_bExecuted(false),
      m_bAccepted(false)
{
}

CQuarnFileTransferSocket::~CQuarnFileTransferSocket()
{
    if (m_hTempFile != INVALID_HANDLE_VALUE)
        CloseHandle(m_hTempFile);
}

bool CQuarnFileTransferSocket::Open(const WCHAR* destination, const WCHAR* receiverPath, const WCHAR* source,
                                    const WCHAR* nickname, HWND window, DWORD intervalMs)
{
    if (destination == nullptr || receiverPath == nullptr || source == nullptr || nickname == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    try {
        m_destination = destination;
        m_receiverPath = receiverPath;
        m_source = source;
        m_nickname = nickname;
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    m_hSenderWnd = window;
    m_progress = CQuarnProgress(intervalMs);
    if (!MakeQuarnTempFile(m_tempFile))
        return Fail(GetLastError());
    return true;
}

bool CQuarnFileTransferSocket::Execute(HWND hWnd, UINT message, DWORD address, WORD port)
{
    if (m_bExecuted)
        return Fail(ERROR_BUSY);
    if (m_tempFile.empty())
        return Fail(ERROR_INVALID_PARAMETER);
    if (!CreateStream(hWnd, message, 0))
        return false;
    DWORD attributes = GetFileAttributesW(m_tempFile.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(m_tempFile.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    m_hTempFile = CreateFileW(m_tempFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    DWORD error = m_hTempFile == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    m_bExecuted = error == 0;
    if (m_bExecuted && !Connect(address, port)) {
        error = GetLastError();
        m_bExecuted = false;
        // The handle deletes the file as it closes: the transfer cannot run again.
        CloseHandle(m_hTempFile);
        m_hTempFile = INVALID_HANDLE_VALUE;
    }
    if (!m_bExecuted) {
        CQuarnStreamSocket::DestroySocket();
        return Fail(error);
    }
    return true;
}

bool CQuarnFileTransferSocket::HandleEvent(WORD event, WORD error)
{
    switch (event) {
    case FD_CONNECT:
        if (error == 0) {
            OnConnect();
            return false;
        }
        if (error == WSAECONNREFUSED)
            Finish(ERROR_QUARN_COMM_CONNECTION_REFUSED);
        break;
    case FD_READ:
        if (error == 0 && ReadStep())
            HandleReply();
        return false;
    case FD_WRITE:
        if (error == 0)
            WriteStep();
        return false;
    case FD_CLOSE:
        // The receiver's last answer may still wait unread.
        for (int step = 0; error == 0 && !m_bShutDown && step < CLOSING_READ_STEPS && ReadStep(); ++step)
            HandleReply();
        break;
    default:
        QuarnTrace("CQuarnFileTransferSocket::HandleEvent(): event %u\n", event);
        return false;
    }
    DestroySocket();
    return true;
}

void CQuarnFileTransferSocket::OnConnect()
{
    CQuarnStreamSocket::OnConnect();
    std::vector<BYTE> data;
    if (!AppendString(data, m_receiverPath.c_str()) || !AppendString(data, m_source.c_str())
        || !AppendString(data, m_nickname.c_str())
        || !SendPacket(QUARN_COMM_TYPE_FILE_TRANSFER_OPEN, 0, data.data(), static_cast<DWORD>(data.size()))) {
        DWORD error = GetLastError();
        QuarnTrace("CQuarnFileTransferSocket::OnConnect(): open request not sent, error %lu\n", error);
        Finish(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
    }
}

bool CQuarnFileTransferSocket::HandleReply()
{
    WORD type, folded;
    DWORD peer, length;
    std::vector<BYTE> data;
    if (!ReceivePacket(&type, &folded, &peer, &data, &length))
        return false;
    // Whatever follows the end is not told.
    if (m_bShutDown)
        return true;
    DWORD status = UnfoldStatus(folded);
    if (status != 0) {
        Finish(status);
    } else if (type == QUARN_COMM_TYPE_FILE_TRANSFER_OPEN && !m_bAccepted) {
        m_bAccepted = true;
        const BYTE* name = reinterpret_cast<const BYTE*>(m_tempFile.c_str());
        DWORD bytes = static_cast<DWORD>((m_tempFile.size() + 1) * sizeof(WCHAR));
        if (!SendPacket(QUARN_COMM_TYPE_FILE_TRANSFER_END, 0, name, bytes, true)) {
            Finish(GetLastError());
            return true;
        }
        // The file packet holds the file from now on.
        if (m_hTempFile != INVALID_HANDLE_VALUE) {
            CloseHandle(m_hTempFile);
            m_hTempFile = INVALID_HANDLE_VALUE;
        }
        m_progress.Start(GetTickCount());
        Post(QUARN_STATUS_SEND_PROGRESS);
    } else if (type == QUARN_COMM_TYPE_FILE_TRANSFER_END && m_bAccepted && m_sendQueue.GetFirst() == nullptr) {
        Finish(QUARN_STATUS_SEND_PROGRESS + 100);
    } else if (type == QUARN_COMM_TYPE_FILE_TRANSFER_ABORT && CQuarnServerBuild::Current().AbortsTransfers()) {
        // Given up without a reason: nothing to tell.
        ShutDown();
    } else {
        // An answer of another type, or one out of turn (a second acceptance, or "stored"
        // before the contents went): nothing can be believed.
        QuarnTrace("CQuarnFileTransferSocket::HandleReply(): unknown packet type %u\n", type);
        Finish(0);
    }
    return true;
}

void CQuarnFileTransferSocket::OnAdvanced(CQuarnPacket& packet, DWORD result)
{
    if (m_bShutDown || !(packet.GetType() & QUARN_COMM_TYPE_FILE_FLAG))
        return;
    CQuarnFileReadPacket& file = static_cast<CQuarnFileReadPacket&>(packet);
    if (file.GetError() != 0) {
        // The file ended before the size the header promised: the receiver cannot be given a
        // whole packet any more.
        Finish(file.GetError());
        return;
    }
    if (result <= 100 && m_progress.Due(result, GetTickCount()))
        Post(QUARN_STATUS_SEND_PROGRESS + 100 - result);
}

void CQuarnFileTransferSocket::Close()
{
    bool held = m_bExecuted;
    DestroySocket();
    // Executed, the file goes with the last handle that holds it; otherwise nothing would
    // delete it before the next start.
    if (!held && !m_tempFile.empty())
        DeleteFileW(m_tempFile.c_str());
}

void CQuarnFileTransferSocket::Finish(DWORD code)
{
    Post(code);
    ShutDown();
}

void CQuarnFileTransferSocket::ShutDown()
{
    m_bShutDown = true;
    if (m_socket != INVALID_SOCKET && shutdown(m_socket, SD_SEND) == SOCKET_ERROR)
        m_dwLastError = WSAGetLastError();
}

void CQuarnFileTransferSocket::DestroySocket()
{
    if (!m_bShutDown)
        Post(ERROR_QUARN_COMM_CONNECTION_CLOSED);
    m_bShutDown = true;
    CQuarnStreamSocket::DestroySocket();
}

void CQuarnFileTransferSocket::Post(DWORD code)
{
    if (m_pCore != nullptr && m_hSenderWnd != nullptr)
        m_pCore->PostNotice(m_hSenderWnd, QuarnFileTransferMessage(), GetId(), static_cast<LPARAM>(code));
}
