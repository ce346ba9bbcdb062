#include "CMutexHandler.h"

CMutexHandler::CMutexHandler(std::string name) : mutex_(nullptr), name_(std::move(name)) {}

CMutexHandler::~CMutexHandler()
{
    Unlock();
}

bool CMutexHandler::Lock()
{
    Unlock();
    mutex_ = CreateMutexA(nullptr, TRUE, name_.c_str());
    return mutex_ != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

void CMutexHandler::Unlock()
{
    if (mutex_ == nullptr)
        return;
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    mutex_ = nullptr;
}
