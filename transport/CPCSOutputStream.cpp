#include "CPCSOutputStream.h"

#include "CPCServer.h"

CPCSOutputStream::CPCSOutputStream(CPCServer* server) : server_(server)
{
}

void CPCSOutputStream::write(const unsigned char* data, int size)
{
    server_->write(data, size);
}
