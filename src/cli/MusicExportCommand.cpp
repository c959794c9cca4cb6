// corvane-cli music export: tick the chosen tracks, check the destination, run the music
// worker (with the restore when asked), then write the playlist files and report.
#include <cstdio>
#include <filesystem>
#include <unordered_set>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/MusicOutput.h"
#include "cli/TransferRun.h"
#include "music/TrackNameTemplate.h"
#include "music/iPodMusic.h"
#include "transfer/CopyThreads.h"
#include "transfer/LibraryTargets.h"
#include "transfer/PlaylistFiles.h"

namespace corvane::cli {
namespace {

// The kind named on the command line ("music", "movie", ...); -1 when unknown.
int KindByName(const std::string& name) {
    for (int kind = mkMusic; kind <= mkVoiceMemo; ++kind) {
        if (name == KindName(kind))
            return kind;
    }
    return -1;
}

// Leaves ticked only the tracks of the playlist (when given) and of the kind (when given).
// Returns an error text, or empty.
std::string SelectTracks(TIpodMusicDb& music, const std::string& playlistName, int kind) {
    std::unordered_set<int64_t> inPlaylist;
    if (!playlistName.empty()) {
        const TPlayListItem* found = nullptr;
        for (const TPlayListItem& playlist : music.PlayLists) {
            if (playlist.Name == playlistName) {
                found = &playlist;
                break;
            }
        }
        if (found == nullptr)
            return "no playlist named \"" + playlistName + "\" on the device";
        for (uint64_t pid : found->TrackPids)
            inPlaylist.insert(static_cast<int64_t>(pid));
    }
    for (int i = 0; i < music.Tracks.Count(); ++i) {
        const TTrackItem& track = music.Tracks.Items(i);
        const bool wanted = (playlistName.empty() || inPlaylist.count(track.Pid) > 0) &&
                            (kind < 0 || track.Kind == kind);
        if (wanted)
            music.Tracks.Check(i);
        else
            music.Tracks.Uncheck(i);
    }
    return {};
}

void PrintLog(const std::string& log) {
    std::fputs(IndentedLog(log).c_str(), stdout);
}

}  // namespace

int RunMusicExport(const TArgs& args) {
    std::string folder = args.Value("--to");
    if (folder.empty()) {
        std::fprintf(stderr, "corvane-cli: music export needs --to DIR\n");
        return 2;
    }
    // The destination check measures a file system, which only an absolute path names.
    std::error_code absoluteError;
    folder = std::filesystem::absolute(folder, absoluteError).string();
    const int scheme = args.IntValue("--scheme", 1);
    if (scheme < 0 || scheme > 7) {
        std::fprintf(stderr, "corvane-cli: --scheme takes 0 to 7\n");
        return 2;
    }
    auto given = [&](const char* option) {
        return args.Flag(option) || !args.Value(option).empty();
    };
    const bool byTemplate = given("--name-template");
    const std::string nameTemplate = args.Value("--name-template");
    if (byTemplate) {
        if (given("--scheme")) {
            std::fprintf(stderr, "corvane-cli: give --scheme or --name-template, not both\n");
            return 2;
        }
        const TTrackNameTemplate naming(nameTemplate);
        if (!naming.Valid()) {
            std::fprintf(stderr, "corvane-cli: %s\n", naming.Error().c_str());
            return 2;
        }
    }
    const std::string kindName = args.Value("--kind");
    const int kind = kindName.empty() ? -1 : KindByName(kindName);
    if (!kindName.empty() && kind < 0) {
        std::fprintf(stderr, "corvane-cli: --kind takes music, movie, book, tone or voice_memo\n");
        return 2;
    }

    TLibraryTarget target = TLibraryTarget::None;
    if (args.Flag("--restore") || !args.Value("--restore").empty()) {
        const std::optional<TLibraryTarget> named = LibraryTargetByName(args.Value("--restore"));
        if (!named) {
            std::fprintf(stderr,
                         "corvane-cli: --restore takes mpd (the MPD server's library) or "
                         "tags (ratings and play counts in the copies' tags)\n");
            return 2;
        }
        target = *named;
    }

    TCliSession session;
    if (int status = OpenAttachedSession(session, args); status != 0)
        return status;
    TIpodMusicDb music(*session.Device);
    const bool loaded = music.Load(true);
    // Voice memos are files of their own; everything else needs the database.
    if (!loaded && kind != mkVoiceMemo) {
        std::fprintf(stderr, "corvane-cli: no music database could be read\n");
        PrintLog(music.Log.Text());
        return 1;
    }
    if (music.Tracks.Count() == 0) {
        std::fprintf(stderr, "corvane-cli: the music library is empty or cannot be read\n");
        PrintLog(music.Log.Text());
        return 1;
    }
    const std::string error = SelectTracks(music, args.Value("--playlist"), kind);
    if (!error.empty()) {
        std::fprintf(stderr, "corvane-cli: %s\n", error.c_str());
        return 2;
    }
    if (music.Tracks.CheckedCount == 0) {
        std::fprintf(stderr, "corvane-cli: no track matches the choice\n");
        return 1;
    }
    music.NamingScheme = byTemplate ? TIpodMusicDb::kTemplateScheme : static_cast<uint8_t>(scheme);
    music.NameTemplate = nameTemplate;
    music.CoverFiles = args.Flag("--covers");
    music.EmbedCovers = args.Flag("--embed-covers");
    if (!music.PrepareDestination(folder)) {
        std::fprintf(stderr, "corvane-cli: %s\n", folder.c_str());
        return 1;
    }

    const int total = music.Tracks.CheckedCount;
    std::printf("Transfer to computer: %d tracks into %s\n", total, music.DestFolder.c_str());
    TMusicCopyThread worker(music, target, session.Queue.Dispatcher());
    const size_t deviceLogStart = session.Device->Log.Text().size();
    TTransferOutcome outcome = RunTransfer(session, worker, total);

    int failed = 0;
    int copied = 0;
    for (const TTrackItem& track : music.Tracks) {
        if (!track.Checked)
            continue;
        if (track.TransferState == 0)
            ++failed;
        else if (track.TransferState > 0 && !track.DestPath.empty())
            ++copied;
    }
    int playlists = 0;
    if (args.Flag("--m3u"))
        playlists = WritePlaylistFiles(music);
    PrintLog(music.Log.Text());
    std::fputs(DeviceLogSince(*session.Device, deviceLogStart).c_str(), stdout);
    std::printf("%d of %d tracks are in %s", copied, total, music.DestFolder.c_str());
    if (args.Flag("--m3u"))
        std::printf("; %d playlist file%s", playlists, playlists == 1 ? "" : "s");
    std::printf("\n");
    if (outcome.CancelRequested) {
        std::printf("Cancelled: %d tracks were not copied.\n", total - copied - failed);
        return 130;
    }
    if (worker.LibraryUnreachable()) {
        std::fprintf(stderr,
                     "corvane-cli: the restore reached no media library (see the log "
                     "above)\n");
        return 1;
    }
    if (failed > 0) {
        std::fprintf(stderr, "corvane-cli: %d tracks could not be copied (see the log above)\n",
                     failed);
        return 1;
    }
    return 0;
}

}  // namespace corvane::cli
