#pragma once

#include "TrList.h"

namespace Tr {

// Base of every long-lived library object (the MIDI manager, the alias manager, the router,
// the device factories). Constructing one registers it with VuskSystem; VuskSystem::shutdown()
// deletes those still alive, in the order they were registered.
class AutoDelete
{
public:
    AutoDelete();
    virtual ~AutoDelete();

    // A copy would be a second object under the first one's registration.
    AutoDelete(const AutoDelete&) = delete;
    AutoDelete& operator=(const AutoDelete&) = delete;
};

// The shutdown registry; static members only.
class VuskSystem
{
public:
    VuskSystem() = delete;

    // Registers obj unless it is registered already.
    static void AddAutoDelete(AutoDelete* obj);

    // True while the registry exists and holds an entry, null entries included.
    static bool hasAutoDeletes();

    // Deletes every object still registered, first registered first, then the registry itself.
    // Does nothing without a registry, and nothing when called again from inside a destructor
    // it runs.
    static void shutdown();

    // The registry, for inspection: null before the first registration and after shutdown();
    // an entry is null once its object has been destroyed.
    static const TList<AutoDelete*>* GetAutoDeletes() { return autoDels; }

private:
    friend class AutoDelete;
    // A plain pointer on purpose: it needs no destructor, so objects destroyed during static
    // destruction can still look at it safely.
    static TList<AutoDelete*>* autoDels;
    static bool inShutdown;
};

} // namespace Tr
