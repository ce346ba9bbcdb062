#pragma once
// The service's 16 client slots and the turn among them: a client takes a slot, and the
// clients in use share one turn, each may ask twice per round (after 2 x slots-in-use calls of
// Next the turn passes to the next slot in use).
#include <windows.h>

class CQuarnClientSlots {
public:
    static constexpr DWORD SLOT_COUNT = 16;
    static constexpr DWORD NO_SLOT = 0xFFFFFFFF;

    // The first free slot, now in use (held by owner, if given, whose notice window is window);
    // NO_SLOT when all are in use. Slots whose client has gone are freed first.
    DWORD Take(const void* owner = nullptr, HWND window = nullptr);
    // Frees every slot that owner took: a client's object goes when the client releases it or
    // its process has ended, and a client that ended without freeing its slot must not keep it.
    void FreeOwnedBy(const void* owner);
    // The notice window of owner's slots from now on; null: none to watch.
    void SetWindowOf(const void* owner, HWND window);
    // Frees every slot whose client's notice window is gone. A process that ends takes its
    // windows with it, while the platform may keep its COM objects (and so its slots) for ever;
    // a slot whose client has no window of its own stays until it is freed or its object goes.
    void FreeGone();
    // Frees a slot in use; false for a free slot or a number of SLOT_COUNT or more. The turn
    // stays where it is.
    bool Free(DWORD slot);
    // Passes the turn to the next slot in use after the turn slot (the turn slot itself when
    // it is the only one) and re-arms the count-down; false (nothing changes) with no slot in use.
    // Slots whose client has gone are freed first, so the turn never goes to them.
    bool PassTurn();
    // Counts down an armed turn, passing it at zero; the turn slot after that.
    DWORD Next();

    DWORD GetTurn() const { return m_turn; }
    DWORD GetCountDown() const { return m_countDown; }

private:
    DWORD CountInUse() const;

    bool m_inUse[SLOT_COUNT] = {};
    const void* m_owner[SLOT_COUNT] = {};
    HWND m_window[SLOT_COUNT] = {};
    DWORD m_turn = 0;
    // Calls of Next left before the turn passes; 0: never armed, the turn stays.
    DWORD m_countDown = 0;
};
