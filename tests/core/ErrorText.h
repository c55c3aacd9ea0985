#pragma once

#include "core/TrException.h"

#include <string>

// The message of the Tr::Exception that `action` throws, or a note that it threw none, so that a
// test compares the whole text a user would see.
template <typename F>
std::string ErrorText(F action)
{
    try {
        action();
    } catch (const Tr::Exception& e) {
        return e.what();
    }
    return "(no exception)";
}
