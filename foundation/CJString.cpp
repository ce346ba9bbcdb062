#include "CJString.h"

#include "CStoredText.h"

CJString::CJString() {}

CJString::CJString(const CJString& other) : CJObject(other), text_(other.text_) {}

CJString::CJString(std::string text) : text_(std::move(text)) {}

CJString& CJString::operator=(const CJString& other)
{
    if (this != &other)
        text_ = other.text_;
    return *this;
}

void CJString::setString(std::string text)
{
    text_ = std::move(text);
}

bool CJString::equals(const CJObject* other) const
{
    const CJString* string = dynamic_cast<const CJString*>(other);
    return string != nullptr && string->text_ == text_;
}

bool CJString::isEquatable() const
{
    return true;
}

int CJString::hashCode() const
{
    if (text_.empty())
        return 0;
    return static_cast<signed char>(text_[0]) * static_cast<int>(text_.size());
}

std::string CJString::toString() const
{
    return text_;
}

unsigned CJString::getSerializedSize() const
{
    return CStoredText::size(text_);
}

bool CJString::store(void* destination) const
{
    CStoredText::store(text_, destination);
    return true;
}

bool CJString::restore(const void* source, unsigned length, unsigned* consumed)
{
    return CStoredText::restore(source, length, consumed, &text_);
}

const char* CJString::getClassName() const
{
    return "CJString";
}
