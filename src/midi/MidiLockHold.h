// Holds a Tr::TLock for one scope, so that every road out of it (an exception included) leaves it.
#pragma once

#include "core/TrLock.h"

namespace Tr
{
class MidiLockHold
{
public:
    explicit MidiLockHold(TLock& lock) : FLock(lock) { FLock.Enter(); }
    ~MidiLockHold() { FLock.Leave(); }
    MidiLockHold(const MidiLockHold&) = delete;
    MidiLockHold& operator=(const MidiLockHold&) = delete;

private:
    TLock& FLock;
};
} // namespace Tr
