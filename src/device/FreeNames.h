// The numbered-name search of the track copy ("Song1.mp3", "Song2.mp3", ...), remembered per
// base name during one export: a library with thousands of tracks of one title would otherwise
// test every taken name again for each track.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace corvane {

class TFreeNames {
public:
    enum class TFound { Free, AlreadyThere, None };

    // The first n (1, 2, ...) whose name base + n + ext is free or already holds a regular
    // file of size bytes; the same answer as testing every n from 1, without testing again the
    // names an earlier search of this base saw taken. None past maxNumber.
    TFound Find(const std::string& base, const std::string& ext, uint64_t size, int maxNumber,
                std::string& name);
    // A file of size bytes now carries the free name that Find gave for number n.
    void Taken(const std::string& base, const std::string& ext, int n, uint64_t size);
    int LastNumber() const { return FLastNumber; }
    // Forgets everything: the folder may have changed since.
    void Clear() { FBases.clear(); }

private:
    struct TBase {
        int Next = 1;                              // every number below was taken
        std::unordered_map<uint64_t, int> BySize;  // lowest taken number holding a file of a size
    };
    std::unordered_map<std::string, TBase> FBases;
    int FLastNumber = 0;
};

}  // namespace corvane
