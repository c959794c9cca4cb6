#include "music/ITunesDbChunks.h"

#include "music/iPodMusic.h"

namespace corvane {

namespace {
std::string At(std::string_view tag, size_t offset) {
    return "iTunesDB: " + std::string(tag) + " at " + std::to_string(offset);
}
}  // namespace

void TITunesDbDamage::Add(std::string_view what) {
    if (FLogged < kMaxLines) {
        FDb.AddLog(std::string(what));
        ++FLogged;
    } else {
        ++FHeldBack;
    }
}

void TITunesDbDamage::Finish() {
    if (FHeldBack > 0) {
        FDb.AddLog("iTunesDB: " + std::to_string(FHeldBack) + " more damaged chunks");
        FHeldBack = 0;
    }
}

std::string RunsPastText(std::string_view tag, size_t offset, std::string_view parent) {
    return At(tag, offset) + " runs past the end of " + std::string(parent);
}

std::string ZeroLengthText(std::string_view tag, size_t offset) {
    return At(tag, offset) + " has a zero length";
}

std::string TooShortText(std::string_view tag, size_t offset, uint32_t length) {
    return At(tag, offset) + " is too short (" + std::to_string(length) + " bytes)";
}

std::string FewerText(std::string_view tag, size_t offset, int64_t announced, std::string_view what,
                      int64_t found) {
    return At(tag, offset) + " announces " + std::to_string(announced) + " " + std::string(what) +
           ", " + std::to_string(found) + " found";
}

std::optional<TChunkExtent> CheckChunk(const TByteReader& parent, size_t position,
                                       std::string_view tag, size_t fieldsSize, uint32_t minLength,
                                       std::string_view parentName, bool mayClip,
                                       TITunesDbDamage& damage) {
    if (!parent.Has(position, fieldsSize)) {
        damage.Add(RunsPastText(tag, position, parentName));
        return std::nullopt;
    }
    uint32_t length = parent.ReadU32(position + 8).value_or(0);
    if (length == 0) {
        damage.Add(ZeroLengthText(tag, position));
        return std::nullopt;
    }
    if (length < minLength) {
        damage.Add(TooShortText(tag, position, length));
        return std::nullopt;
    }
    if (length > parent.Left(position)) {
        damage.Add(RunsPastText(tag, position, parentName));
        if (!mayClip)
            return std::nullopt;
        return TChunkExtent{parent.Size(), true};
    }
    return TChunkExtent{position + length, false};
}

}  // namespace corvane
