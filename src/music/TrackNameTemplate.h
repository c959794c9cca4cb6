// A naming template of the user's own, such as "%artist%/%album%/%track% %title%": tokens are
// replaced by a track's fields, "/" separates folders, and every folder and file name comes out
// as safe as the fixed naming schemes make them.
#pragma once

#include <string>
#include <vector>

namespace corvane {

struct TTrackItem;

class TTrackNameTemplate {
public:
    explicit TTrackNameTemplate(const std::string& text);

    // Why the text cannot name files (empty, an unknown token, a "%" without its pair, no
    // token in the file name); empty when it can.
    const std::string& Error() const { return FError; }
    bool Valid() const { return FError.empty(); }

    // The folders and, last, the file name (no extension) of a track: never empty, each a
    // single safe name (no "/", never made only of dots), each at most limitBytes long. The
    // file name is cut to leafLimitBytes so that an extension still fits.
    std::vector<std::string> Components(const TTrackItem& track, size_t limitBytes,
                                        size_t leafLimitBytes) const;
    // The same joined with "/", for a preview.
    std::string Path(const TTrackItem& track) const;

    // "%artist%, %album%, ..." for help texts and messages.
    static std::string TokenList();
    static constexpr const char* kDefault = "%artist%/%album%/%track% %title%";

private:
    enum class TToken { Artist, Album, Track, Disc, Title, AlbumArtist, Year, Genre };
    struct TPiece {
        bool IsToken = false;
        TToken Token = TToken::Title;
        std::string Text;
    };
    using TSegment = std::vector<TPiece>;

    static std::string TokenValue(const TTrackItem& track, TToken token);

    std::vector<TSegment> FSegments;
    std::string FError;
};

}  // namespace corvane
