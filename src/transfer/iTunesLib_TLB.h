// The automation interface of the user's media library, as the restore uses it: one abstract
// class per automation object, one member per call. Collections count from 1. A call that
// fails throws EITunesError with the backend's text; "nothing" comes back as a null pointer.
// CreateITunesApp stands for a library that is not there; the backends of this platform
// (MPD, the copies' tags) come through LibraryTargets.h, and tests bring their own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "music/iPodMusic.h"

namespace corvane {
namespace itunes {

// The one error of every call; what() is the text the restore logs.
class EITunesError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The values the restore relies on; the other kinds exist but are only told apart from these.
constexpr int ITTrackKindFile = 1;
constexpr int ITPlaylistKindUser = 2;
constexpr int ITUserPlaylistSpecialKindFolder = 4;

// The four numbers that identify an object of the library.
struct TITObjectIDs {
    int32_t SourceID = 0;
    int32_t PlaylistID = 0;
    int32_t TrackID = 0;
    int32_t DatabaseID = 0;
};

class IITObject {
public:
    virtual ~IITObject() = default;
    virtual std::string Name() = 0;
    virtual TITObjectIDs GetITObjectIDs() = 0;
};

class IITTrack : public IITObject {
public:
    virtual int Kind() = 0;
    virtual std::string Artist() = 0;
    virtual void SetRating(int rating) = 0;  // 0..100
    virtual void SetPlayedCount(int count) = 0;
};

// A track that is a file (or a CD track): the library knows where its file lies.
class IITFileOrCDTrack : public IITTrack {
public:
    virtual std::string Location() = 0;  // empty when the file is unknown
};

class IITTrackCollection {
public:
    virtual ~IITTrackCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<IITTrack> Item(int index) = 0;
    virtual std::shared_ptr<IITTrack> ItemByName(const std::string& name) = 0;
};

// What AddFile hands back: the add runs on inside the library until InProgress turns false.
class IITOperationStatus {
public:
    virtual ~IITOperationStatus() = default;
    virtual bool InProgress() = 0;
    virtual std::shared_ptr<IITTrackCollection> Tracks() = 0;  // the tracks that were added
};

class IITPlaylist : public IITObject {
public:
    virtual int Kind() = 0;
    virtual std::shared_ptr<IITTrackCollection> Tracks() = 0;
};

class IITLibraryPlaylist : public IITPlaylist {
public:
    // Nothing when the library refuses the file.
    virtual std::shared_ptr<IITOperationStatus> AddFile(const std::string& path) = 0;
};

class IITUserPlaylist : public IITPlaylist {
public:
    virtual int SpecialKind() = 0;
    virtual bool Smart() = 0;
    // Appends the track that the object stands for.
    virtual void AddTrack(const std::shared_ptr<IITObject>& track) = 0;
};

class IITPlaylistCollection {
public:
    virtual ~IITPlaylistCollection() = default;
    virtual int Count() = 0;
    virtual std::shared_ptr<IITPlaylist> Item(int index) = 0;
};

class IITSource : public IITObject {
public:
    virtual std::shared_ptr<IITPlaylistCollection> Playlists() = 0;
};

class IITWindow {
public:
    virtual ~IITWindow() = default;
    virtual void SetMinimized(bool minimized) = 0;
};

class IITWindowCollection {
public:
    virtual ~IITWindowCollection() = default;
    virtual std::shared_ptr<IITWindow> ItemByName(const std::string& name) = 0;
};

// The application object.
class IiTunes {
public:
    virtual ~IiTunes() = default;
    virtual std::shared_ptr<IITWindowCollection> Windows() = 0;
    virtual std::shared_ptr<IITLibraryPlaylist> LibraryPlaylist() = 0;
    virtual std::shared_ptr<IITSource> LibrarySource() = 0;
    virtual std::shared_ptr<IITPlaylist> CreatePlaylist(const std::string& name) = 0;
    virtual std::shared_ptr<IITObject> GetITObjectByID(int32_t sourceID, int32_t playlistID,
                                                       int32_t trackID, int32_t databaseID) = 0;
    virtual std::string Version() = 0;
};

using TITunesAppFactory = std::function<std::shared_ptr<IiTunes>()>;

// Why the application object cannot be created on this platform.
extern const char* const kNoAutomationBackend;

// Creates the application object of this platform's backend. There is none here, so it
// throws EITunesError with kNoAutomationBackend.
std::shared_ptr<IiTunes> CreateITunesApp();

// Pauses the calling thread.
void WaitMs(int milliseconds);

// The window list of a library that has no windows to minimise (every target on this platform).
std::shared_ptr<IITWindowCollection> NoWindows();

}  // namespace itunes

// What the restore needs from outside: the application object and the pauses between polls
// and after errors. Tests pass an in-memory library and a wait that returns at once.
struct TIpodMusicDb::TRestoreHooks {
    itunes::TITunesAppFactory CreateApp = itunes::CreateITunesApp;
    // Names the library in the "[X]... error: " line when it cannot be reached.
    std::string LibraryName = "iTunes";
    std::function<void(int milliseconds)> Wait = itunes::WaitMs;
    // An add that is still running after this many polls (10 minutes) counts as failed, so a
    // library that never finishes cannot hold the worker for good.
    int MaxAddPolls = 3000;
};

}  // namespace corvane
