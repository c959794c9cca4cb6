// Shared pieces of the iTunesDB walk: where a chunk of a list lies, checked against the end of
// the chunk that holds it, and the log of the damage found on the way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ByteReader.h"

namespace corvane {

class TIpodMusicDb;

// The damage lines of one list walk. The first few go to the log as they are found; a writer's
// systematic fault repeats in every track, so the rest are only counted and summed up at the end.
class TITunesDbDamage {
public:
    explicit TITunesDbDamage(TIpodMusicDb& db) : FDb(db) {}
    TITunesDbDamage(const TITunesDbDamage&) = delete;
    TITunesDbDamage& operator=(const TITunesDbDamage&) = delete;

    void Add(std::string_view what);
    // Logs how many lines were held back; call once when the walk ends.
    void Finish();
    bool Any() const { return FLogged + FHeldBack > 0; }

    static constexpr int kMaxLines = 10;

private:
    TIpodMusicDb& FDb;
    int FLogged = 0;
    int FHeldBack = 0;
};

// Texts of the damage lines.
std::string RunsPastText(std::string_view tag, size_t offset, std::string_view parent);
std::string ZeroLengthText(std::string_view tag, size_t offset);
std::string TooShortText(std::string_view tag, size_t offset, uint32_t length);
std::string FewerText(std::string_view tag, size_t offset, int64_t announced, std::string_view what,
                      int64_t found);

// A chunk of a list whose total length sits at offset 8.
struct TChunkExtent {
    size_t End = 0;        // where the next sibling begins
    bool Clipped = false;  // the chunk claimed more than its parent holds and was cut at its end
};

// Checks the chunk at position against `parent` (which ends where its parent ends): its first
// `fieldsSize` bytes must lie inside and its total length must be at least `minLength` (so never
// 0, and every step of a list walk moves forward past the fields it read). A chunk that claims
// more than its parent holds is cut at the parent's end when `mayClip` (a container whose
// complete children are still worth reading), else refused. Logs what is wrong.
std::optional<TChunkExtent> CheckChunk(const TByteReader& parent, size_t position,
                                       std::string_view tag, size_t fieldsSize, uint32_t minLength,
                                       std::string_view parentName, bool mayClip,
                                       TITunesDbDamage& damage);

}  // namespace corvane
