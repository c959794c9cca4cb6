#include "transfer/TagLibrary.h"

#include <filesystem>
#include <vector>

#include <taglib/taglib.h>

#include "transfer/CopyTags.h"

namespace corvane::tags {
namespace {

namespace fs = std::filesystem;
using namespace itunes;

struct TTagRun {
    TLibraryLog Log;
    fs::path DestFolder;
    std::vector<std::string> Paths;  // track id - 1 -> file

    void AddLog(const std::string& line) const {
        if (Log)
            Log(line);
    }
    // Only the export's own copies are ever changed.
    bool IsCopy(const std::string& path) const {
        std::error_code error;
        const fs::path relative =
            fs::absolute(path, error).lexically_normal().lexically_relative(DestFolder);
        const std::string text = relative.generic_string();
        return !text.empty() && text != "." && text.rfind("..", 0) != 0;
    }
};

class TTagTrack : public IITFileOrCDTrack {
public:
    TTagTrack(std::shared_ptr<TTagRun> run, std::string path, int32_t id)
        : FRun(std::move(run)), FPath(std::move(path)), FId(id) {}

    std::string Name() override { return fs::path(FPath).stem().string(); }
    TITObjectIDs GetITObjectIDs() override { return {1, 1, FId, FId}; }
    int Kind() override { return ITTrackKindFile; }
    std::string Artist() override { return {}; }
    std::string Location() override { return FPath; }
    void SetRating(int rating) override {
        FValues.Rating = rating;
        Write();
    }
    void SetPlayedCount(int count) override {
        FValues.PlayCount = count;
        Write();
    }

private:
    // Everything set so far goes in at once, so a later write never drops an earlier value.
    void Write() {
        const std::string error = WriteRatingTags(FPath, FValues);
        if (error.empty())
            return;
        if (!FFailed)
            FRun->AddLog("Tags not written into " + FPath + ": " + error +
                         " (the copy is kept as it was)");
        FFailed = true;
        throw EITunesError(error);
    }

    std::shared_ptr<TTagRun> FRun;
    const std::string FPath;
    const int32_t FId;
    TRatingTags FValues;
    bool FFailed = false;
};

class TTracks : public IITTrackCollection {
public:
    explicit TTracks(std::vector<std::shared_ptr<IITTrack>> tracks) : FTracks(std::move(tracks)) {}
    int Count() override { return static_cast<int>(FTracks.size()); }
    std::shared_ptr<IITTrack> Item(int index) override {
        if (index < 1 || index > Count())
            return nullptr;
        return FTracks[static_cast<size_t>(index - 1)];
    }
    // The files are their own library: no copy is ever "already there".
    std::shared_ptr<IITTrack> ItemByName(const std::string&) override { return nullptr; }

private:
    std::vector<std::shared_ptr<IITTrack>> FTracks;
};

class TDoneStatus : public IITOperationStatus {
public:
    explicit TDoneStatus(std::shared_ptr<IITTrack> track) : FTrack(std::move(track)) {}
    bool InProgress() override { return false; }
    std::shared_ptr<IITTrackCollection> Tracks() override {
        return std::make_shared<TTracks>(std::vector<std::shared_ptr<IITTrack>>{FTrack});
    }

private:
    std::shared_ptr<IITTrack> FTrack;
};

class TCopiesPlaylist : public IITLibraryPlaylist {
public:
    explicit TCopiesPlaylist(std::shared_ptr<TTagRun> run) : FRun(std::move(run)) {}
    std::string Name() override { return "Copies"; }
    TITObjectIDs GetITObjectIDs() override { return {1, 1, 0, 0}; }
    int Kind() override { return 1; }
    std::shared_ptr<IITTrackCollection> Tracks() override {
        return std::make_shared<TTracks>(std::vector<std::shared_ptr<IITTrack>>{});
    }
    // A copy whose format takes no such tags is refused, with its reason in the log.
    std::shared_ptr<IITOperationStatus> AddFile(const std::string& path) override {
        std::string why =
            FRun->IsCopy(path) ? WhyNoRatingTags(path) : "it is not a copy of this export";
        if (!why.empty()) {
            FRun->AddLog("Tags not written into " + path + ": " + why +
                         " (the copy is kept as it was)");
            return nullptr;
        }
        FRun->Paths.push_back(path);
        return std::make_shared<TDoneStatus>(
            std::make_shared<TTagTrack>(FRun, path, static_cast<int32_t>(FRun->Paths.size())));
    }

private:
    std::shared_ptr<TTagRun> FRun;
};

class TNoPlaylists : public IITPlaylistCollection {
public:
    int Count() override { return 0; }
    std::shared_ptr<IITPlaylist> Item(int) override { return nullptr; }
};

class TCopiesSource : public IITSource {
public:
    std::string Name() override { return "Copies"; }
    TITObjectIDs GetITObjectIDs() override { return {1, 0, 0, 0}; }
    std::shared_ptr<IITPlaylistCollection> Playlists() override {
        return std::make_shared<TNoPlaylists>();
    }
};

class TTagApp : public IiTunes {
public:
    explicit TTagApp(std::shared_ptr<TTagRun> run) : FRun(std::move(run)) {}
    std::shared_ptr<IITWindowCollection> Windows() override { return NoWindows(); }
    std::shared_ptr<IITLibraryPlaylist> LibraryPlaylist() override {
        return std::make_shared<TCopiesPlaylist>(FRun);
    }
    std::shared_ptr<IITSource> LibrarySource() override {
        return std::make_shared<TCopiesSource>();
    }
    // Tags hold no playlists: the playlist files stand for them.
    std::shared_ptr<IITPlaylist> CreatePlaylist(const std::string&) override { return nullptr; }
    std::shared_ptr<IITObject> GetITObjectByID(int32_t, int32_t, int32_t trackID,
                                               int32_t) override {
        if (trackID < 1 || static_cast<size_t>(trackID) > FRun->Paths.size())
            return nullptr;
        return std::make_shared<TTagTrack>(FRun, FRun->Paths[static_cast<size_t>(trackID - 1)],
                                           trackID);
    }
    std::string Version() override {
        return "TagLib " + std::to_string(TAGLIB_MAJOR_VERSION) + "." +
               std::to_string(TAGLIB_MINOR_VERSION) + "." + std::to_string(TAGLIB_PATCH_VERSION);
    }

private:
    std::shared_ptr<TTagRun> FRun;
};

}  // namespace

std::shared_ptr<IiTunes> CreateTagLibrary(const std::string& destFolder, TLibraryLog log) {
    auto run = std::make_shared<TTagRun>();
    run->Log = std::move(log);
    std::error_code error;
    std::string folder = fs::absolute(destFolder, error).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    run->DestFolder = folder;
    return std::make_shared<TTagApp>(run);
}

}  // namespace corvane::tags
