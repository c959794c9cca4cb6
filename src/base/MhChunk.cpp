#include "base/MhChunk.h"

namespace corvane {

void TChunkDamage::Add(std::string_view tag, size_t offset, const std::string& what) {
    if (FLogged >= kMaxLines) {
        ++FHeldBack;
        return;
    }
    FLog.AddLog(FSource + ": " + std::string(tag) + " at " + std::to_string(offset) + " " + what);
    ++FLogged;
}

void TChunkDamage::RunsPast(std::string_view tag, size_t offset, std::string_view parent) {
    Add(tag, offset, "runs past the end of " + std::string(parent));
}

void TChunkDamage::ZeroLength(std::string_view tag, size_t offset) {
    Add(tag, offset, "has a zero length");
}

void TChunkDamage::TooShort(std::string_view tag, size_t offset, uint32_t length) {
    Add(tag, offset, "is too short (" + std::to_string(length) + " bytes)");
}

void TChunkDamage::Fewer(std::string_view tag, size_t offset, uint64_t announced,
                         std::string_view what, uint64_t found) {
    Add(tag, offset,
        "announces " + std::to_string(announced) + " " + std::string(what) + ", " +
            std::to_string(found) + " found");
}

void TChunkDamage::Finish() {
    if (FHeldBack > 0) {
        FLog.AddLog(FSource + ": " + std::to_string(FHeldBack) + " more damaged chunks");
        FHeldBack = 0;
    }
}

std::optional<TChunk> ReadChunk(const TByteReader& parent, size_t position, const TChunkRule& rule,
                                TChunkDamage* damage) {
    auto fail = [&](auto report) -> std::optional<TChunk> {
        if (damage != nullptr)
            report(*damage);
        return std::nullopt;
    };
    if (!parent.Has(position, rule.Fields) || !parent.Has(position, 12))
        return fail([&](TChunkDamage& d) { d.RunsPast(rule.Tag, position, rule.Parent); });
    uint32_t length = parent.ReadU32(position + 8).value_or(0);
    if (length == 0)
        return fail([&](TChunkDamage& d) { d.ZeroLength(rule.Tag, position); });
    if (length < rule.Fields)
        return fail([&](TChunkDamage& d) { d.TooShort(rule.Tag, position, length); });
    TChunk chunk;
    chunk.Position = position;
    if (length > parent.Left(position)) {
        if (damage != nullptr)
            damage->RunsPast(rule.Tag, position, rule.Parent);
        if (!rule.MayClip)
            return std::nullopt;
        chunk.End = parent.Size();
        chunk.Clipped = true;
    } else {
        chunk.End = position + length;
    }
    chunk.Data = parent.Prefix(chunk.End);
    return chunk;
}

}  // namespace corvane
