#include "CPlayerId.h"

CPlayerId::CPlayerId(DPID id) : id_(id)
{
}

bool CPlayerId::equals(const CJObject* other) const
{
    const CPlayerId* player = dynamic_cast<const CPlayerId*>(other);
    return player != nullptr && player->id_ == id_;
}

bool CPlayerId::isEquatable() const
{
    return true;
}

int CPlayerId::hashCode() const
{
    return static_cast<int>(id_);
}
