#pragma once
// Maps key objects to value objects, safe to share between threads (every operation runs under
// the table's monitor). Keys whose class defines equality (isEquatable) are found by equals,
// all others only by identity. Owns neither keys nor values.
#include "CJObject.h"

#include <unordered_map>
#include <vector>

class CVector;

class CHashTable : public CJObject {
public:
    CHashTable();
    explicit CHashTable(int groupCount);
    CHashTable(const CHashTable&) = delete;
    CHashTable& operator=(const CHashTable&) = delete;
    ~CHashTable() override;

    int size();
    bool isEmpty();
    bool containsKey(CJObject* key);
    CJObject* get(CJObject* key);
    // Throws CNullPointerException for a NULL key or value.
    void put(CJObject* key, CJObject* value);
    CJObject* remove(CJObject* key);
    // Throws CNullPointerException for a NULL value.
    bool containsValue(CJObject* value);
    void clear();
    // New vectors that the caller owns (not their elements).
    CVector* keys();
    CVector* elements();
    // Writes every mapping to the trace when the dump option is on.
    void dump();

private:
    using Group = std::vector<CJObject*>;

    void build(int groupCount);
    Group& groupOf(CJObject* key);
    Group::iterator findEqual(Group& group, CJObject* key);
    CJObject* valueOfStoredKey(CJObject* storedKey);
    CVector* collect(bool wantKeys);

    std::unordered_map<CJObject*, CJObject*>* identity_;
    std::vector<Group>* groups_;
    int groupCount_;
};
