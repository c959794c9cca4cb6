// The "mh" chunk family of the device databases (iTunesDB, Photo Database, ArtworkDB): a
// four-letter tag, the header length at offset 4 and, for most chunks, the total length at
// offset 8. One read checks a chunk against the end of the chunk that holds it, and one damage
// log words and caps what a walk finds wrong, so every reader reports damage the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ByteReader.h"
#include "base/LogText.h"

namespace corvane {

// The damage lines of one list walk. The first few go to the log as they are found; a writer's
// systematic fault repeats in every record, so the rest are only counted and summed up when the
// walk ends.
class TChunkDamage {
public:
    // `source` begins every line ("iTunesDB", "Photo Database").
    TChunkDamage(TLogText& log, std::string_view source) : FLog(log), FSource(source) {}
    TChunkDamage(const TChunkDamage&) = delete;
    TChunkDamage& operator=(const TChunkDamage&) = delete;
    ~TChunkDamage() { Finish(); }

    void RunsPast(std::string_view tag, size_t offset, std::string_view parent);
    void ZeroLength(std::string_view tag, size_t offset);
    void TooShort(std::string_view tag, size_t offset, uint32_t length);
    // A count in a header that the chunks after it do not bear out.
    void Fewer(std::string_view tag, size_t offset, uint64_t announced, std::string_view what,
               uint64_t found);

    // Logs how many lines were held back; the destructor calls it too.
    void Finish();
    bool Any() const { return FLogged + FHeldBack > 0; }

    static constexpr int kMaxLines = 10;

private:
    void Add(std::string_view tag, size_t offset, const std::string& what);

    TLogText& FLog;
    std::string FSource;
    int FLogged = 0;
    int FHeldBack = 0;
};

// How one kind of chunk is checked.
struct TChunkRule {
    std::string_view Tag{};     // its name in damage lines
    size_t Fields = 12;         // bytes that are read from it: they must lie inside the parent,
                                // and its total length must cover them (so is never 0)
    std::string_view Parent{};  // what holds it, as damage lines name it ("its data set")
    // A chunk that claims more than its parent holds is cut at the parent's end (a container
    // whose complete children are still worth reading, and the last of its list), else refused.
    bool MayClip = false;
};

// A chunk that passed its rule.
struct TChunk {
    size_t Position = 0;
    size_t End = 0;        // where the next sibling begins
    bool Clipped = false;  // cut at the end of its parent
    TByteReader Data;      // the parent's bytes up to End; offsets keep their meaning

    // The header's own fields, 0 outside the data.
    uint32_t U32(size_t field) const { return Data.ReadU32(Position + field).value_or(0); }
    uint16_t U16(size_t field) const { return Data.ReadU16(Position + field).value_or(0); }
    // Where the chunk's body (its first child) begins: after its header.
    size_t Body() const { return Position + U32(4); }
};

// The chunk at position inside `parent` (which ends where its parent ends), checked by `rule`.
// What is wrong goes to `damage`; with none, the caller reports the failure in its own words.
std::optional<TChunk> ReadChunk(const TByteReader& parent, size_t position, const TChunkRule& rule,
                                TChunkDamage* damage);

// The header that announces a list of sibling chunks, as its "announces" line names it.
struct TChunkList {
    std::string_view Tag{};
    size_t Offset = 0;
    uint64_t Count = 0;
    std::string_view What{};  // "tracks", "albums"
};

// Calls visit(chunk) for each member of the list, from position on, each checked by `rule`;
// visit returns false to end the walk. The walk also ends at a refused member, after one cut at
// the end of its parent, and where the data ends before the count does. Every step moves forward
// past the fields of a member, so a walk ends within the data whatever the count claims.
template <typename Visit>
void WalkChunks(const TByteReader& data, size_t position, const TChunkList& list,
                const TChunkRule& rule, TChunkDamage& damage, Visit&& visit) {
    for (uint64_t i = 0; i < list.Count; ++i) {
        if (data.Left(position) == 0) {
            damage.Fewer(list.Tag, list.Offset, list.Count, list.What, i);
            return;
        }
        auto chunk = ReadChunk(data, position, rule, &damage);
        if (!chunk || !visit(*chunk) || chunk->Clipped)
            return;
        position = chunk->End;
    }
}

}  // namespace corvane
