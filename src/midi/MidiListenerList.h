#pragma once

#include "core/TrList.h"

#include <algorithm>
#include <vector>

namespace Tr {

// Helpers for the listener registries of the MIDI library: a registry never holds a listener twice,
// and a notification tells every registered listener once, first to last.

template <class L>
int IndexOfListener(TList<L*>& listeners, L* listener)
{
    for (int i = 0; i < listeners.Count(); ++i)
        if (listeners[i] == listener)
            return i;
    return -1;
}

template <class L>
void AddListenerOnce(TList<L*>& listeners, L* listener)
{
    if (IndexOfListener(listeners, listener) < 0)
        listeners.Add(listener);
}

template <class L>
void RemoveListener(TList<L*>& listeners, L* listener)
{
    const int i = IndexOfListener(listeners, listener);
    if (i >= 0)
        listeners.Remove(i);
}

// Listeners may register or unregister listeners (themselves included) while they are told. A walk
// by index would then skip the listener behind a removed one, or tell a re-registered one twice;
// this walk remembers whom it told, so each listener registered at its turn hears once, in
// registration order, and one removed before its turn is not called at all.
template <class L>
void TellListeners(TList<L*>& listeners, void (L::*operation)())
{
    std::vector<L*> told;
    for (;;) {
        L* next = nullptr;
        for (int i = 0; i < listeners.Count(); ++i) {
            if (std::find(told.begin(), told.end(), listeners[i]) == told.end()) {
                next = listeners[i];
                break;
            }
        }
        if (!next)
            return;
        told.push_back(next);
        (next->*operation)();
    }
}

// The notification step of a change: held back while an update bracket is open (updateCount > 0),
// otherwise delivered at once.
template <class L>
void FireOrHoldBack(TList<L*>& listeners, int updateCount, unsigned char& changePending,
                    void (L::*operation)())
{
    if (updateCount > 0) {
        changePending = 1;
        return;
    }
    TellListeners(listeners, operation);
}

// Closes one level of an update bracket; the outermost one delivers a held-back change once. The
// count is not clamped: an unmatched close leaves it below zero.
template <class L>
void CloseUpdateBracket(TList<L*>& listeners, int& updateCount, unsigned char& changePending,
                        void (L::*operation)())
{
    --updateCount;
    if (updateCount != 0 || !changePending)
        return;
    // Cleared first: a listener that opens and closes a bracket of its own must not deliver this
    // notification a second time.
    changePending = 0;
    TellListeners(listeners, operation);
}

} // namespace Tr
