// Handles given out by the library implementations: each is the address of an object the
// library owns, looked up before use so that a stale or foreign handle gives an error code
// instead of touching freed memory.
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace corvane {

template <typename T>
class THandleTable {
public:
    void* Add(std::unique_ptr<T> item) {
        void* handle = item.get();
        std::lock_guard lock(FMutex);
        FItems.emplace(handle, std::move(item));
        return handle;
    }

    // The object stays owned by the table; callers must not keep it past a Take of its handle.
    T* Find(const void* handle) const {
        std::lock_guard lock(FMutex);
        auto it = FItems.find(const_cast<void*>(handle));
        return it == FItems.end() ? nullptr : it->second.get();
    }

    std::unique_ptr<T> Take(const void* handle) {
        std::lock_guard lock(FMutex);
        auto it = FItems.find(const_cast<void*>(handle));
        if (it == FItems.end())
            return nullptr;
        std::unique_ptr<T> item = std::move(it->second);
        FItems.erase(it);
        return item;
    }

    // Takes every object whose owner test holds, e.g. the files of a closing connection.
    template <typename Predicate>
    void EraseIf(Predicate predicate) {
        std::unordered_map<void*, std::unique_ptr<T>> doomed;
        {
            std::lock_guard lock(FMutex);
            for (auto it = FItems.begin(); it != FItems.end();) {
                if (predicate(*it->second)) {
                    doomed.emplace(it->first, std::move(it->second));
                    it = FItems.erase(it);
                } else {
                    ++it;
                }
            }
        }
        // Released outside the lock: destructors may call into the library.
    }

    size_t Size() const {
        std::lock_guard lock(FMutex);
        return FItems.size();
    }

private:
    mutable std::mutex FMutex;
    std::unordered_map<void*, std::unique_ptr<T>> FItems;
};

}  // namespace corvane
