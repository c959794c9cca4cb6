// The covers of an export: "cover.jpg" once in each album folder the copies went to, and the
// cover embedded into copies that carry none. Runs after the export, on its worker thread.
#pragma once

namespace corvane {

class TIpodMusicDb;

struct TCoverChoice {
    bool CoverFiles = false;   // cover.jpg per album folder (naming scheme 0 only)
    bool EmbedCovers = false;  // into the copies that carry no picture
    bool Any() const { return CoverFiles || EmbedCovers; }
};

struct TCoverOutcome {
    int Files = 0;     // cover.jpg files written
    int Embedded = 0;  // copies that got their cover
};

// For every track this export copied (in list order), with the library's log for each failure
// and one summary line. An existing cover.jpg is left as it is; so is a copy with a picture.
TCoverOutcome ExportCovers(TIpodMusicDb& music, const TCoverChoice& choice);

}  // namespace corvane
