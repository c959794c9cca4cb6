// The lists of records that the device models hold (tracks, playlists, photos, albums, camera
// files). Records live in a deque, so a reference taken from Add stays valid while the list
// grows; a list that holds tens of thousands can take its memory from an arena (Allocator).
// Indexes are int, as the views' rows are.
//
// One rule for a bad index: Items wants an index that Has accepts, and does not check it (a
// view asks inside Qt's data(), where nothing may throw); the sanitizer build's library
// assertions stop at a bad one. An index from outside the list's own loops (a view's row, a
// stored tag) goes through Has or Find.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

namespace corvane {

template <typename T, typename Allocator = std::allocator<T>>
class TRecordList {
public:
    T& Add() { return FItems.emplace_back(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }
    bool Has(int index) const { return index >= 0 && index < Count(); }

    T& Items(int index) { return FItems[static_cast<size_t>(index)]; }
    const T& Items(int index) const { return FItems[static_cast<size_t>(index)]; }
    // The record at index; nullptr when there is none.
    T* Find(int index) { return Has(index) ? &Items(index) : nullptr; }
    const T* Find(int index) const { return Has(index) ? &Items(index) : nullptr; }

    void Clear() { FItems.clear(); }
    void RemoveLast() {
        if (!FItems.empty())
            FItems.pop_back();
    }

    auto begin() { return FItems.begin(); }
    auto end() { return FItems.end(); }
    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

protected:
    std::deque<T, Allocator> FItems;
};

}  // namespace corvane
