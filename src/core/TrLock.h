// TEMPORARY STAND-IN until the thread library's TrLock.h lands on main: only the recursive lock the
// MIDI library needs. On merge take main's version of this file.
#pragma once

#include <mutex>

namespace Tr
{

class TLock
{
public:
    TLock() = default;
    virtual ~TLock() = default;
    TLock(const TLock&) = delete;
    TLock& operator=(const TLock&) = delete;

    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }

private:
    std::recursive_mutex FMutex;
};

} // namespace Tr
