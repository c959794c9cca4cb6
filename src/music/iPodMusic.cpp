#include "music/iPodMusic.h"

#include <charconv>
#include <cstdio>

#include "base/Text.h"

namespace corvane {

void TTrackList::Clear() {
    TRecordList::Clear();
    CheckedCount = 0;
    CheckedSize = 0;
}

void TTrackList::Reserve(size_t count) {
    // A deque holds a track this large in a node of its own, rounded up by the arena.
    constexpr size_t kNode = sizeof(TTrackItem) + alignof(std::max_align_t);
    if (count <= SIZE_MAX / kNode)
        FItems.get_allocator().Arena()->Reserve(count * kNode);
}

void TTrackList::Check(int index) {
    TTrackItem* track = Find(index);
    if (track == nullptr || track->Checked)
        return;
    track->Checked = true;
    ++CheckedCount;
    CheckedSize += track->FileSize;
}

void TTrackList::Uncheck(int index) {
    TTrackItem* track = Find(index);
    if (track == nullptr || !track->Checked)
        return;
    track->Checked = false;
    --CheckedCount;
    CheckedSize -= track->FileSize;
}

std::unordered_map<int64_t, int> TTrackList::PidIndex() const {
    std::unordered_map<int64_t, int> index;
    index.reserve(FItems.size());
    for (int i = 0; i < Count(); ++i)
        index.emplace(Items(i).Pid, i);  // keeps the first
    return index;
}

std::string TIpodMusicDb::DurationText(uint32_t ms) {
    uint32_t s = ms / 1000;
    uint32_t m = s / 60;
    uint32_t sec = s % 60;
    // Written by hand: a list formats one per track, and printf's cost would show.
    char text[32];
    char* end = text;
    auto twoDigits = [&end](uint32_t value) {
        *end++ = ':';
        *end++ = static_cast<char>('0' + value / 10);
        *end++ = static_cast<char>('0' + value % 10);
    };
    if (m <= 59) {
        end = std::to_chars(end, text + sizeof text, m).ptr;
    } else {
        end = std::to_chars(end, text + sizeof text, m / 60).ptr;
        twoDigits(m % 60);
    }
    twoDigits(sec);
    return std::string(text, end);
}

std::string TIpodMusicDb::KindExtension(const std::string& location) {
    for (size_t i = location.size(); i > 0; --i) {
        char c = location[i - 1];
        if (c == '\\' || c == ':')
            break;
        if (c == '.')
            return location.substr(i - 1);
    }
    return {};
}

TMediaKind TIpodMusicDb::KindOfExtension(const std::string& ext) {
    std::string e = AsciiLower(ext);
    if (e == ".mp4" || e == ".m4v" || e == ".mov")
        return mkMovie;
    if (e == ".epub" || e == ".pdf")
        return mkBook;
    if (e == ".m4r")
        return mkTone;
    return mkMusic;
}

}  // namespace corvane
