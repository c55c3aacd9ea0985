#pragma once

#include "core/TrException.h"
#include "core/TrStringList.h"

#include <string>
#include <vector>

using Lines = std::vector<std::string>;

inline Lines LinesOf(const Tr::TStringList& list)
{
    Lines out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Get(i));
    return out;
}

inline Tr::TStringList ListOf(const Lines& lines)
{
    Tr::TStringList list;
    for (const auto& line : lines)
        list.Add(line, 0);
    return list;
}

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
