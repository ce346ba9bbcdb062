#include "CQuarnCallException.h"

CQuarnCallException::CQuarnCallException(std::string message, HRESULT result)
    : CIOException(std::move(message)), result_(result)
{
}
