#pragma once

#include <chrono>
#include <thread>

// Polls `done` until it holds or `timeout` has passed, calling `between` after each poll that
// failed; true when it held. Only generous time-outs are used with it: they bound a test that
// fails, they do not measure anything.
template <typename Pred, typename Between>
bool WaitUntilWith(Pred done, std::chrono::milliseconds timeout, Between between)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done())
    {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        between();
    }
    return true;
}

// WaitUntilWith that sleeps `step` between the polls.
template <typename Pred>
bool WaitUntil(Pred done, std::chrono::milliseconds timeout = std::chrono::seconds(10),
               std::chrono::milliseconds step = std::chrono::milliseconds(1))
{
    return WaitUntilWith(done, timeout, [step] { std::this_thread::sleep_for(step); });
}

inline long long MillisSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}
