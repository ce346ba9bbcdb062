#pragma once
// Thread-safe byte ring between the capture threads: fixed size, one byte always empty.
#include <windows.h>

class CRingBuffer {
public:
    static constexpr HRESULT FULL = HRESULT(0x80040200);
    static constexpr HRESULT EMPTY = HRESULT(0x80040201);

    explicit CRingBuffer(DWORD size);
    virtual ~CRingBuffer();
    CRingBuffer(const CRingBuffer&) = delete;
    CRingBuffer& operator=(const CRingBuffer&) = delete;

    // Appends what fits; the rest is dropped. FULL when nothing fits.
    HRESULT SetData(const void* data, DWORD length);
    HRESULT GetData(void* buffer, DWORD length, DWORD* got);
    // The newest bytes, in their order, left in the ring.
    HRESULT GetLatestData(void* buffer, DWORD length, DWORD* got);
    void DropData(DWORD length);
    void Clear();
    DWORD available();
    DWORD freeSpace();
    void SetEnded(bool ended);
    // ended: only when the flag is set and nothing is left.
    void GetState(DWORD* available, bool* ended);

private:
    DWORD heldLocked() const;
    void copyOut(DWORD from, DWORD n, void* buffer) const;

    unsigned char* data_;
    DWORD size_;
    DWORD read_ = 0;
    DWORD write_ = 0;
    bool ended_ = true;
    CRITICAL_SECTION lock_;
};
