#include "CJException.h"

#include "CStoredText.h"

CJException::CJException() {}

CJException::CJException(std::string message) : message_(std::move(message)) {}

CJException::CJException(const CJException& other) : CJObject(other), message_(other.message_) {}

CJException& CJException::operator=(const CJException& other)
{
    message_ = other.message_;
    return *this;
}

std::string CJException::toString() const
{
    return message_;
}

void CJException::setMessage(std::string message)
{
    message_ = std::move(message);
}

unsigned CJException::getSerializedSize() const
{
    return CStoredText::size(message_);
}

bool CJException::store(void* destination) const
{
    CStoredText::store(message_, destination);
    return true;
}

bool CJException::restore(const void* source, unsigned length, unsigned* consumed)
{
    return CStoredText::restore(source, length, consumed, &message_);
}

const char* CJException::getClassName() const
{
    return "CJException";
}
