#include "CVector.h"

#include "CArrayIndexOutOfBoundsException.h"
#include "CMonitorHold.h"
#include "CNoSuchElementException.h"
#include "COutOfMemoryException.h"

#include <algorithm>
#include <new>

namespace {

const char SCOPE[] = "//CVector";

enum Site {
    SITE_CREATE = 1,
    SITE_ADD,
    SITE_INSERT,
    SITE_IS_EMPTY,
    SITE_SIZE,
    SITE_REMOVE,
    SITE_REMOVE_AT,
    SITE_REMOVE_ALL,
    SITE_DELETE_ALL,
    SITE_FIRST,
    SITE_ELEMENT_AT,
    SITE_CONTAINS,
};

[[noreturn]] void outOfMemory()
{
    throw COutOfMemoryException("CMemoryException");
}

[[noreturn]] void badIndex(const char* operation, int index, int count)
{
    CTrace::trace(SCOPE, std::string(" ") + operation + "(): index " + std::to_string(index)
                  + " out of bounds, size " + std::to_string(count), 0);
    throw CArrayIndexOutOfBoundsException("CArrayIndexOutOfBoundsException");
}

} // namespace

CVector::CVector(int initialCapacity, int capacityIncrement)
    : capacityIncrement_(capacityIncrement), initialCapacity_(initialCapacity), count_(0), storage_(nullptr)
{
}

CVector::~CVector()
{
    if (count_ != 0)
        CTrace::scopedWarning(SCOPE, " destroyed while holding " + std::to_string(count_)
                              + " elements: nothing is left to delete them");
    delete storage_;
}

void CVector::createStorage()
{
    CMonitorHold hold(*this, SITE_CREATE, SCOPE);
    if (storage_ != nullptr)
        return;
    std::vector<CJObject*>* array = new (std::nothrow) std::vector<CJObject*>();
    if (array == nullptr) {
        CTrace::trace(SCOPE, " memory allocation of the pointer array failed", 0);
        outOfMemory();
    }
    try {
        array->resize(static_cast<size_t>(std::max(initialCapacity_, 0)), nullptr);
    } catch (const std::bad_alloc&) {
        CTrace::trace(SCOPE, " enlarging the pointer array failed", 0);
        delete array;
        outOfMemory();
    }
    storage_ = array;
}

// Makes room for at least the given number of slots with the growth rule of the vector:
// the increment, or with -1 an eighth of the current size, at least 4 and at most 1024.
void CVector::growTo(size_t slots)
{
    size_t current = storage_->size();
    if (slots <= current)
        return;
    size_t step = capacityIncrement_ > 0 ? static_cast<size_t>(capacityIncrement_)
                                         : std::min<size_t>(1024, std::max<size_t>(4, current / 8));
    storage_->resize(std::max(slots, current + step), nullptr);
}

void CVector::addElement(CJObject* element)
{
    createStorage();
    CMonitorHold hold(*this, SITE_ADD, SCOPE);
    try {
        growTo(static_cast<size_t>(count_) + 1);
    } catch (const std::bad_alloc&) {
        CTrace::trace(SCOPE, " addElement(): memory allocation failed", 0);
        outOfMemory();
    }
    (*storage_)[count_] = element;
    ++count_;
}

void CVector::insertElementAt(CJObject* element, int index)
{
    CMonitorHold hold(*this, SITE_INSERT, SCOPE);
    if (index < 0 || index > count_)
        throw CArrayIndexOutOfBoundsException("CArrayIndexOutOfBoundsException");
    if (index == count_) {
        addElement(element);
        return;
    }
    createStorage();
    try {
        growTo(static_cast<size_t>(count_) + 1);
    } catch (const std::bad_alloc&) {
        outOfMemory();
    }
    std::vector<CJObject*>& slots = *storage_;
    std::move_backward(slots.begin() + index, slots.begin() + count_, slots.begin() + count_ + 1);
    slots[index] = element;
    ++count_;
}

bool CVector::isEmpty()
{
    CMonitorHold hold(*this, SITE_IS_EMPTY, SCOPE);
    return count_ == 0;
}

int CVector::size()
{
    CMonitorHold hold(*this, SITE_SIZE, SCOPE);
    return count_;
}

bool CVector::removeElement(CJObject* element)
{
    CMonitorHold hold(*this, SITE_REMOVE, SCOPE);
    for (int i = count_ - 1; i >= 0; --i) {
        CJObject* held = (*storage_)[i];
        bool match = held != nullptr ? held->equals(element) : element == nullptr;
        if (match) {
            storage_->erase(storage_->begin() + i);
            --count_;
            return true;
        }
    }
    return false;
}

void CVector::removeElementAt(int index)
{
    CMonitorHold hold(*this, SITE_REMOVE_AT, SCOPE);
    if (count_ == 0)
        return;
    if (index < 0 || index >= count_)
        badIndex("removeElementAt", index, count_);
    storage_->erase(storage_->begin() + index);
    --count_;
}

void CVector::removeAllElements()
{
    CMonitorHold hold(*this, SITE_REMOVE_ALL, SCOPE);
    if (count_ == 0)
        return;
    storage_->clear();
    count_ = 0;
}

void CVector::deleteAllElements()
{
    CMonitorHold hold(*this, SITE_DELETE_ALL, SCOPE);
    if (count_ == 0)
        return;
    CTrace::trace(SCOPE, " deleteAllElements(): the vector holds " + std::to_string(count_) + " elements", 0);
    for (int i = 0; i < count_; ++i)
        delete (*storage_)[i];
    CTrace::trace(SCOPE, " deleteAllElements(): the elements were freed", 0);
    storage_->clear();
    count_ = 0;
}

CJObject* CVector::firstElement()
{
    CMonitorHold hold(*this, SITE_FIRST, SCOPE);
    if (count_ == 0) {
        CTrace::trace(SCOPE, " firstElement(): the vector is empty", 0);
        throw CNoSuchElementException("CNoSuchElementException");
    }
    return (*storage_)[0];
}

CJObject* CVector::elementAt(int index)
{
    CMonitorHold hold(*this, SITE_ELEMENT_AT, SCOPE);
    if (count_ == 0)
        return nullptr;
    if (index < 0 || index >= count_)
        badIndex("elementAt", index, count_);
    return (*storage_)[index];
}

bool CVector::contains(CJObject* element)
{
    CMonitorHold hold(*this, SITE_CONTAINS, SCOPE);
    for (int i = size() - 1; i >= 0; --i) {
        CJObject* held = elementAt(i);
        if (held == nullptr) {
            // Callers store no NULL; such a slot matches only a NULL argument.
            if (element == nullptr)
                return true;
            continue;
        }
        if (held->isEquatable() ? held->equals(element) : held == element)
            return true;
    }
    return false;
}
