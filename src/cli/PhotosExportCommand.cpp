// corvane-cli photos export: write the photo library (and the camera roll when asked) into a
// folder through the photo worker, then report.
#include <cstdio>
#include <filesystem>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/TransferRun.h"
#include "photo/iPodPhoto.h"
#include "transfer/CopyThreads.h"

namespace corvane::cli {

int RunPhotosExport(const TArgs& args) {
    std::string folder = args.Value("--to");
    if (folder.empty()) {
        std::fprintf(stderr, "corvane-cli: photos export needs --to DIR\n");
        return 2;
    }
    TEditedExport edited = TEditedExport::Both;
    if (const std::string choice = args.Value("--edited"); choice == "as-edited") {
        edited = TEditedExport::AsEdited;
    } else if (choice == "originals") {
        edited = TEditedExport::Originals;
    } else if (!choice.empty() && choice != "both") {
        std::fprintf(stderr, "corvane-cli: --edited takes as-edited, originals or both\n");
        return 2;
    }
    if (args.Flag("--flat") && args.Flag("--by-date")) {
        std::fprintf(stderr, "corvane-cli: --flat and --by-date do not go together\n");
        return 2;
    }
    // The destination check measures a file system, which only an absolute path names.
    std::error_code absoluteError;
    folder = std::filesystem::absolute(folder, absoluteError).string();
    TCliSession session;
    if (int status = OpenAttachedSession(session, args); status != 0)
        return status;
    const bool withCameraRoll = args.Flag("--camera-roll");
    TIpodPhotoDb photos(*session.Device, withCameraRoll);
    photos.Load();
    // A library whose folder is there but cannot be read is a failure, not an empty library.
    const bool libraryUnreadable =
        !photos.LibraryLoaded && (session.Device->DirectoryExistsOnDevice("/Photos") ||
                                  session.Device->DirectoryExistsOnDevice("/PhotoData"));
    if (libraryUnreadable) {
        std::fprintf(stderr,
                     "corvane-cli: Either the photo library is empty or it cannot be accessed "
                     "currently.\n");
        if (!withCameraRoll || photos.CameraPhotos.Count() == 0) {
            std::fputs(IndentedLog(photos.Log.Text()).c_str(), stdout);
            return 1;
        }
    }
    if (withCameraRoll) {
        for (int i = 0; i < photos.CameraPhotos.Count(); ++i)
            photos.CameraPhotos.Check(i);
    }
    const int total = photos.Photos.CheckedCount + photos.CameraPhotos.CheckedCount;
    if (total == 0) {
        std::fprintf(stderr,
                     "corvane-cli: Either the photo library is empty or it cannot be accessed "
                     "currently.\n");
        return 1;
    }
    photos.OrganizeByAlbum = !args.Flag("--flat");
    photos.OrganizeByDate = args.Flag("--by-date");
    photos.HeicToJpeg = args.Flag("--heic-to-jpeg");
    photos.LiveVideo = !args.Flag("--no-live-video");
    photos.Edited = edited;
    if (!photos.PrepareDestination(folder)) {
        std::fprintf(stderr, "corvane-cli: %s\n", folder.c_str());
        return 1;
    }

    std::printf("Transfer to computer: %d pictures into %s\n", total, photos.Destination.c_str());
    TPhotoCopyThread worker(photos, withCameraRoll, session.Queue.Dispatcher());
    const size_t deviceLogStart = session.Device->Log.Text().size();
    TTransferOutcome outcome = RunTransfer(session, worker, total);

    std::string log = photos.Log.Text();
    std::fputs(IndentedLog(log).c_str(), stdout);
    std::fputs(DeviceLogSince(*session.Device, deviceLogStart).c_str(), stdout);
    std::printf("%d pictures written to %s\n", worker.Copied(), photos.Destination.c_str());
    if (outcome.CancelRequested) {
        std::printf("Cancelled.\n");
        return 130;
    }
    // Pictures already there from an earlier export count as done, not as failures.
    if (libraryUnreadable)
        return 1;
    if (photos.ExportFailures > 0 || (withCameraRoll && photos.CameraRollFailures > 0)) {
        std::fprintf(stderr, "corvane-cli: some pictures could not be written (see the log)\n");
        return 1;
    }
    return 0;
}

}  // namespace corvane::cli
