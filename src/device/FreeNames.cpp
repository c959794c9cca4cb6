#include "device/FreeNames.h"

#include <optional>

#include "platform/LocalFiles.h"

namespace corvane {

namespace {

std::string Numbered(const std::string& base, const std::string& ext, int n) {
    std::string name = base;
    name.append(std::to_string(n)).append(ext);
    return name;
}

// The size of a regular file at name; nothing for anything else.
std::optional<uint64_t> RegularSize(const std::string& name) {
    return FileExists(name) ? FileSize(name) : std::nullopt;
}

}  // namespace

TFreeNames::TFound TFreeNames::Find(const std::string& base, const std::string& ext, uint64_t size,
                                    int maxNumber, std::string& name) {
    TBase& state = FBases[base + ext];
    if (auto known = state.BySize.find(size); known != state.BySize.end()) {
        name = Numbered(base, ext, known->second);
        if (RegularSize(name) == size) {
            FLastNumber = known->second;
            return TFound::AlreadyThere;
        }
        state = TBase{};  // changed behind our back: search from the start again
    }
    for (int n = state.Next; n <= maxNumber; ++n) {
        name = Numbered(base, ext, n);
        FLastNumber = n;
        if (!PathExists(name))
            return TFound::Free;
        state.Next = n + 1;
        if (auto taken = RegularSize(name)) {
            state.BySize.emplace(*taken, n);
            if (*taken == size)
                return TFound::AlreadyThere;
        }
    }
    name.clear();
    return TFound::None;
}

void TFreeNames::Taken(const std::string& base, const std::string& ext, int n, uint64_t size) {
    TBase& state = FBases[base + ext];
    state.BySize.emplace(size, n);
    if (state.Next == n)
        state.Next = n + 1;
}

}  // namespace corvane
