#include "CPCSInputStream.h"

#include "CPCServer.h"

CPCSInputStream::CPCSInputStream(CPCServer* server) : server_(server)
{
}

int CPCSInputStream::read(const unsigned char** block)
{
    return server_->read(block);
}
