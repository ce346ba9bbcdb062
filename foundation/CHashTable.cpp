#include "CHashTable.h"

#include "CMonitorHold.h"
#include "CNullPointerException.h"
#include "COutOfMemoryException.h"
#include "CVector.h"

#include <atomic>
#include <new>

namespace {

const char SILENT_SCOPE[] = "//CHashTable";
const char DUMP_SCOPE[] = "CHashTable";
const int DEFAULT_GROUPS = 20;

// Shared by all tables; a dump lifts the silence prefix for its duration.
std::atomic<const char*> s_scope{SILENT_SCOPE};

const char* scope()
{
    return s_scope.load();
}

enum Site {
    SITE_SIZE = 1,
    SITE_CONTAINS_KEY,
    SITE_GET,
    SITE_PUT,
    SITE_REMOVE,
    SITE_CONTAINS_VALUE,
    SITE_CLEAR,
    SITE_COLLECT,
    SITE_DUMP,
};

[[noreturn]] void outOfMemory(const char* where)
{
    CTrace::trace(scope(), std::string(" ") + where + ": memory allocation failed", 0);
    throw COutOfMemoryException();
}

} // namespace

CHashTable::CHashTable() : identity_(nullptr), groups_(nullptr), groupCount_(DEFAULT_GROUPS)
{
    build(DEFAULT_GROUPS);
}

CHashTable::CHashTable(int groupCount) : identity_(nullptr), groups_(nullptr), groupCount_(1)
{
    build(groupCount);
}

void CHashTable::build(int groupCount)
{
    groupCount_ = groupCount < 1 ? 1 : groupCount;
    CTrace::trace(scope(), " map created with " + std::to_string(groupCount_) + " hash groups", 0);
    try {
        identity_ = new std::unordered_map<CJObject*, CJObject*>();
        groups_ = new std::vector<Group>(static_cast<size_t>(groupCount_));
    } catch (const std::bad_alloc&) {
        delete identity_;
        identity_ = nullptr;
        outOfMemory("CHashTable()");
    }
}

CHashTable::~CHashTable()
{
    CTrace::trace(scope(), " ~CHashTable(): cleaning up the map and its hash groups", 0);
    delete identity_;
    delete groups_;
}

// Equal keys have equal hash codes, so any fixed mapping of the code into the range keeps
// them together; a negative code is folded into the range too.
CHashTable::Group& CHashTable::groupOf(CJObject* key)
{
    int remainder = key->hashCode() % groupCount_;
    if (remainder < 0)
        remainder += groupCount_;
    return (*groups_)[remainder];
}

CHashTable::Group::iterator CHashTable::findEqual(Group& group, CJObject* key)
{
    for (auto it = group.begin(); it != group.end(); ++it)
        if (key->equals(*it))
            return it;
    return group.end();
}

CJObject* CHashTable::valueOfStoredKey(CJObject* storedKey)
{
    auto entry = identity_->find(storedKey);
    if (entry == identity_->end())
        CTrace::scopedFatalError(scope(), " key management is inconsistent: an equal key is missing from the map", -1);
    return entry->second;
}

int CHashTable::size()
{
    CMonitorHold hold(*this, SITE_SIZE, scope());
    return static_cast<int>(identity_->size());
}

bool CHashTable::isEmpty()
{
    return size() <= 0;
}

bool CHashTable::containsKey(CJObject* key)
{
    CMonitorHold hold(*this, SITE_CONTAINS_KEY, scope());
    if (identity_->count(key) != 0)
        return true;
    CTrace::trace(scope(), " containsKey(): the key object is not mapped", 0);
    if (key != nullptr && key->isEquatable()) {
        CTrace::trace(scope(), " containsKey(): the key defines equality; searching for an equal object", 0);
        Group& group = groupOf(key);
        if (findEqual(group, key) != group.end()) {
            CTrace::trace(scope(), " containsKey(): equal object found", 0);
            return true;
        }
    }
    return false;
}

CJObject* CHashTable::get(CJObject* key)
{
    CMonitorHold hold(*this, SITE_GET, scope());
    auto entry = identity_->find(key);
    if (entry != identity_->end())
        return entry->second;
    if (key != nullptr && key->isEquatable()) {
        Group& group = groupOf(key);
        auto stored = findEqual(group, key);
        if (stored != group.end())
            return valueOfStoredKey(*stored);
    }
    return nullptr;
}

void CHashTable::put(CJObject* key, CJObject* value)
{
    if (key == nullptr || value == nullptr) {
        CTrace::trace(scope(), key == nullptr ? " put(): the key is NULL" : " put(): the value is NULL", 0);
        throw CNullPointerException();
    }
    CMonitorHold hold(*this, SITE_PUT, scope());
    Group* appendedTo = nullptr;
    if (identity_->count(key) != 0) {
        CTrace::trace(scope(), " put(): the key object is already mapped", 0);
    } else if (key->isEquatable()) {
        Group& group = groupOf(key);
        auto stored = findEqual(group, key);
        if (stored != group.end()) {
            CTrace::trace(scope(), " put(): equal object found; the stored key stays", 0);
            key = *stored;
        } else {
            CTrace::trace(scope(), " put(): no equal object found", 0);
            try {
                group.push_back(key);
            } catch (const std::bad_alloc&) {
                outOfMemory("put()");
            }
            appendedTo = &group;
        }
    } else {
        CTrace::trace(scope(), " put(): the key defines no equality; mapped by identity", 0);
    }
    CTrace::trace(scope(), " put(): writing the value", 0);
    try {
        (*identity_)[key] = value;
    } catch (const std::bad_alloc&) {
        if (appendedTo != nullptr)
            appendedTo->pop_back();
        outOfMemory("put()");
    }
}

CJObject* CHashTable::remove(CJObject* key)
{
    CMonitorHold hold(*this, SITE_REMOVE, scope());
    if (key != nullptr && key->isEquatable()) {
        Group& group = groupOf(key);
        auto stored = findEqual(group, key);
        if (stored == group.end())
            return nullptr;
        CJObject* storedKey = *stored;
        group.erase(stored);
        CJObject* value = valueOfStoredKey(storedKey);
        identity_->erase(storedKey);
        return value;
    }
    auto entry = identity_->find(key);
    if (entry == identity_->end())
        return nullptr;
    CTrace::trace(scope(), " remove(): the key object is mapped", 0);
    CJObject* value = entry->second;
    identity_->erase(entry);
    return value;
}

bool CHashTable::containsValue(CJObject* value)
{
    if (value == nullptr) {
        CTrace::trace(scope(), " containsValue(): the value is NULL", 0);
        throw CNullPointerException();
    }
    CMonitorHold hold(*this, SITE_CONTAINS_VALUE, scope());
    for (const auto& entry : *identity_)
        if (value->equals(entry.second))
            return true;
    return false;
}

void CHashTable::clear()
{
    CMonitorHold hold(*this, SITE_CLEAR, scope());
    CTrace::trace(scope(), " clear(): clearing the map", 0);
    identity_->clear();
    CTrace::trace(scope(), " clear(): clearing all hash groups", 0);
    for (Group& group : *groups_)
        group.clear();
}

CVector* CHashTable::collect(bool wantKeys)
{
    CVector* result = new (std::nothrow) CVector(10, -1);
    if (result == nullptr)
        outOfMemory(wantKeys ? "keys()" : "elements()");
    CMonitorHold hold(*this, SITE_COLLECT, scope());
    try {
        for (const auto& entry : *identity_)
            result->addElement(wantKeys ? entry.first : entry.second);
    } catch (const COutOfMemoryException&) {
        result->removeAllElements();
        delete result;
        throw COutOfMemoryException();
    }
    return result;
}

CVector* CHashTable::keys()
{
    return collect(true);
}

CVector* CHashTable::elements()
{
    return collect(false);
}

void CHashTable::dump()
{
    CMonitorHold hold(*this, SITE_DUMP, scope());
    if (!CTrace::isDump())
        return;
    const char* expected = SILENT_SCOPE;
    bool lifted = s_scope.compare_exchange_strong(expected, DUMP_SCOPE);
    const char* lines = scope();
    const std::string dashes = " ---------------------------------------------------------";
    CTrace::trace(lines, dashes, 0);
    CTrace::trace(lines, " key,value pairs registered in the table:", 0);
    CTrace::trace(lines, " -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- ", 0);
    for (const auto& entry : *identity_)
        CTrace::trace(lines, "  key " + objectToString(entry.first) + " ,  value " + objectToString(entry.second), 0);
    CTrace::trace(lines, dashes, 0);
    if (lifted)
        s_scope.store(SILENT_SCOPE);
}
