#pragma once
// The test program's own operator new and delete (all forms, over malloc and free), so that a
// test can see the largest block asked for while a watch lives, and can make the library's
// nothrow array allocations of a given size fail.
#include <cstddef>

class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;

    // The largest single request since the watch began.
    size_t largest() const;
    // From now on while the watch lives, nothrow array requests of at least size bytes fail.
    void failNothrowArraysFrom(size_t size);
};
