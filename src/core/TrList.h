#pragma once

#include <cstddef>
#include <vector>

#include "TrAssert.h"

namespace Tr {

// An ordered list of pointers. Add, Remove and Clear are virtual so that a derived list can
// change how elements are added. A list owns its elements only when it is given a free
// function; it then calls it on every element in Clear and in its destructor, but never in
// Remove, which only takes the element out of the list.
template <typename T>
class TList
{
public:
    using FreeItemFunc = void (*)(T);

    TList() = default;
    explicit TList(FreeItemFunc freeItem) : FFreeItem(freeItem) {}
    TList(const TList&) = delete;             // two lists freeing the same elements
    TList& operator=(const TList&) = delete;

    virtual ~TList() { FreeAll(); }

    virtual void Clear()
    {
        FreeAll();
        FItems.clear();
    }

    // Appends without any check: null and duplicates are accepted.
    virtual void Add(T item) { FItems.push_back(item); }

    // An index outside the list is ignored rather than erasing at a wild position.
    virtual void Remove(int index)
    {
        if (index >= 0 && index < Count())
            FItems.erase(FItems.begin() + index);
    }

    int Count() const { return static_cast<int>(FItems.size()); }
    int GetCount() const { return Count(); }

    T& operator[](int index)
    {
        TR_ASSERT(index >= 0 && index < Count());
        return FItems[static_cast<std::size_t>(index)];
    }
    const T& operator[](int index) const
    {
        TR_ASSERT(index >= 0 && index < Count());
        return FItems[static_cast<std::size_t>(index)];
    }
    T& Get(int index) { return (*this)[index]; }
    const T& Get(int index) const { return (*this)[index]; }

    typename std::vector<T>::iterator begin() { return FItems.begin(); }
    typename std::vector<T>::iterator end() { return FItems.end(); }
    typename std::vector<T>::const_iterator begin() const { return FItems.begin(); }
    typename std::vector<T>::const_iterator end() const { return FItems.end(); }

protected:
    FreeItemFunc FFreeItem = nullptr;
    std::vector<T> FItems;

private:
    void FreeAll()
    {
        if (FFreeItem == nullptr)
            return;
        for (T item : FItems)
            FFreeItem(item);
    }
};

} // namespace Tr
