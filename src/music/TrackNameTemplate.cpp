// Parsing and filling of the user's naming templates.
#include "music/TrackNameTemplate.h"

#include <array>
#include <string_view>

#include "base/Text.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"

namespace corvane {

namespace {

// The order here is the order the help texts list them in.
constexpr std::array<std::string_view, 8> kTokenNames = {"artist", "album",       "track", "disc",
                                                         "title",  "albumartist", "year",  "genre"};

// A template is typed by hand; a file name made of this many pieces is a mistake.
constexpr size_t kMaxTemplateBytes = 1024;

std::string Number(int32_t value, int width) {
    if (value <= 0)
        return {};
    std::string digits = std::to_string(value);
    if (digits.size() < static_cast<size_t>(width))
        digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
    return digits;
}

bool IsSeparators(std::string_view text) {
    return !text.empty() && text.find_first_not_of(" -_.,") == std::string_view::npos;
}

char Closer(char opener) {
    return opener == '(' ? ')' : opener == '[' ? ']' : opener == '{' ? '}' : '\0';
}

// The text around a value that turned out empty says nothing on its own: "%disc%-%track% "
// without a disc is "%track% ", "%title% - %track%" without a number is "%title%", and
// "%album% (%year%)" without a year is "%album%".
void DropOrphanedText(std::vector<std::string>& texts, const std::vector<bool>& isLiteral) {
    for (size_t i = 0; i < texts.size(); ++i) {
        if (isLiteral[i] || !texts[i].empty())
            continue;
        std::string* before = i > 0 && isLiteral[i - 1] ? &texts[i - 1] : nullptr;
        std::string* after = i + 1 < texts.size() && isLiteral[i + 1] ? &texts[i + 1] : nullptr;
        if (before && after && !before->empty() && !after->empty() &&
            Closer(before->back()) != '\0' && after->front() == Closer(before->back())) {
            before->pop_back();
            while (!before->empty() && IsSeparators(before->substr(before->size() - 1)))
                before->pop_back();
            after->erase(0, 1);
        } else if (after && IsSeparators(*after)) {
            after->clear();
        } else if (before && IsSeparators(*before)) {
            before->clear();
        }
    }
}

}  // namespace

TTrackNameTemplate::TTrackNameTemplate(const std::string& text) {
    if (text.size() > kMaxTemplateBytes) {
        FError = "The name template is too long.";
        return;
    }
    TSegment segment;
    std::string literal;
    auto flushLiteral = [&] {
        if (!literal.empty())
            segment.push_back(TPiece{false, TToken::Title, literal});
        literal.clear();
    };
    auto endSegment = [&] {
        flushLiteral();
        // "a//b", a leading or a trailing "/" add no empty folder.
        if (!segment.empty())
            FSegments.push_back(std::move(segment));
        segment.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '/') {
            endSegment();
            continue;
        }
        if (c != '%') {
            literal += c;
            continue;
        }
        const size_t close = text.find('%', i + 1);
        if (close == std::string::npos) {
            FError = "A \"%\" in the name template has no closing \"%\" (write %% for a % sign).";
            return;
        }
        const std::string name = text.substr(i + 1, close - i - 1);
        i = close;
        if (name.empty()) {
            literal += '%';
            continue;
        }
        size_t found = 0;
        while (found < kTokenNames.size() && kTokenNames[found] != name)
            ++found;
        if (found == kTokenNames.size()) {
            FError =
                "Unknown token %" + name + "% in the name template; known are " + TokenList() + ".";
            return;
        }
        flushLiteral();
        segment.push_back(TPiece{true, static_cast<TToken>(found), {}});
    }
    endSegment();
    if (FSegments.empty()) {
        FError = "The name template is empty.";
        return;
    }
    if (const std::string typed = Trim(text); !typed.empty() && typed.back() == '/') {
        FError = "The name template ends in \"/\": a file name must follow, such as %title%.";
        return;
    }
    // Without a token in the file name, every track would get the same name.
    bool leafHasToken = false;
    for (const TPiece& piece : FSegments.back())
        leafHasToken = leafHasToken || piece.IsToken;
    if (!leafHasToken)
        FError =
            "The file name part of the template (after the last \"/\") needs a token, "
            "such as %title%.";
}

std::string TTrackNameTemplate::TokenList() {
    std::string list;
    for (std::string_view name : kTokenNames) {
        if (!list.empty())
            list += ", ";
        list += '%';
        list += name;
        list += '%';
    }
    return list;
}

std::string TTrackNameTemplate::TokenValue(const TTrackItem& track, TToken token) {
    switch (token) {
        case TToken::Artist:
            return TIpodMusicDb::NameComponent(track.Artist, " Artist");
        case TToken::Album:
            return TIpodMusicDb::NameComponent(track.Album, " Album");
        case TToken::Title:
            return TIpodMusicDb::NameComponent(track.Title, " Name");
        case TToken::Genre:
            return TIpodMusicDb::NameComponent(track.Genre, " Genre");
        case TToken::AlbumArtist:
            // Most tracks have no album artist of their own: their artist stands for it.
            return TIpodMusicDb::NameComponent(
                Trim(track.AlbumArtist).empty() ? track.Artist : track.AlbumArtist, " Artist");
        case TToken::Track:
            return Number(track.TrackNumber, 2);
        case TToken::Disc:
            return Number(track.DiscNumber, 1);
        case TToken::Year:
            return Number(track.Year, 4);
    }
    return {};
}

std::vector<std::string> TTrackNameTemplate::Components(const TTrackItem& track, size_t limitBytes,
                                                        size_t leafLimitBytes) const {
    std::vector<std::string> names;
    if (!Valid())
        return names;
    for (size_t s = 0; s < FSegments.size(); ++s) {
        const TSegment& segment = FSegments[s];
        std::vector<std::string> texts;
        std::vector<bool> isLiteral;
        for (const TPiece& piece : segment) {
            texts.push_back(piece.IsToken ? TokenValue(track, piece.Token) : piece.Text);
            isLiteral.push_back(!piece.IsToken);
        }
        DropOrphanedText(texts, isLiteral);
        std::string raw;
        for (const std::string& text : texts)
            raw += text;
        const bool isLeaf = s + 1 == FSegments.size();
        std::string name = TIpodMusicDb::SafeNameText(raw);
        if (name.empty()) {
            // A folder of nothing but missing values is left out; a file keeps a name.
            if (!isLeaf)
                continue;
            name = TIpodMusicDb::NameComponent(track.Title, " Name");
        }
        // Cutting may end a name in a blank or a dot; the rules apply to what is kept.
        name = TIpodMusicDb::SafeNameText(CutFileName(name, isLeaf ? leafLimitBytes : limitBytes));
        names.push_back(name.empty() ? "_" : name);
    }
    return names;
}

std::string TTrackNameTemplate::Path(const TTrackItem& track) const {
    std::string path;
    for (const std::string& name : Components(track, 255, 255)) {
        if (!path.empty())
            path += '/';
        path += name;
    }
    return path;
}

}  // namespace corvane
