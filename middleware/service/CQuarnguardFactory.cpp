#include "CQuarnguardFactory.h"

#include "CQuarnguard.h"

#include <new>

IUnknown* CQuarnguardFactory::NewObject()
{
    return static_cast<IQuarnguard*>(new (std::nothrow) CQuarnguard(m_build));
}
