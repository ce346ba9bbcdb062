#pragma once
// Growable array of object pointers in insertion order, safe to share between threads (every
// operation runs under the vector's monitor). Owns no element: only deleteAllElements deletes.
#include "CJObject.h"

#include <vector>

class CVector : public CJObject {
public:
    // Every caller passes 10 and -1 (-1: automatic growth step).
    CVector(int initialCapacity, int capacityIncrement);
    CVector(const CVector&) = delete;
    CVector& operator=(const CVector&) = delete;
    ~CVector() override;

    virtual void addElement(CJObject* element);
    virtual void insertElementAt(CJObject* element, int index);
    virtual bool isEmpty();
    virtual int size();
    virtual bool removeElement(CJObject* element);
    virtual void removeElementAt(int index);
    virtual void removeAllElements();
    virtual void deleteAllElements();
    virtual CJObject* firstElement();
    virtual CJObject* elementAt(int index);
    virtual bool contains(CJObject* element);

private:
    void createStorage();
    void growTo(size_t slots);

    int capacityIncrement_;
    int initialCapacity_;
    int count_;
    std::vector<CJObject*>* storage_; // slot i holds element i below count_, NULL above
};
