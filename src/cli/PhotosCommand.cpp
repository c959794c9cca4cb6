// corvane-cli photos list | previews: load the attached device's photo library, print it, or
// write every preview the loader makes as a PNG so that the decoders can be looked at.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/PhotoOutput.h"
#include "photo/ImageCodecs.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"

namespace corvane::cli {
namespace {

// Opens the session and loads the library with the camera roll; null, with the exit status,
// after printing why not.
std::unique_ptr<TIpodPhotoDb> LoadPhotos(TCliSession& session, const TArgs& args, bool& loaded,
                                         int& status) {
    status = OpenAttachedSession(session, args);
    if (status != 0)
        return nullptr;
    auto photos = std::make_unique<TIpodPhotoDb>(*session.Device, true);
    loaded = photos->Load();
    return photos;
}

// Writes bytes as folder/base.png, or "base (2).png" and so on when the name is taken; never
// replaces a file. Returns 0 or errno.
int WriteNewFile(const std::string& folder, const std::string& base,
                 const std::vector<uint8_t>& bytes, std::string& written) {
    for (int attempt = 1; attempt < 1000; ++attempt) {
        std::string name = base + (attempt == 1 ? "" : " (" + std::to_string(attempt) + ")");
        auto path = JoinInside(folder, name + ".png");
        if (!path)
            return EINVAL;
        TAtomicFileWriter file(*path);
        int result = file.Open();
        if (result == EEXIST)
            continue;
        if (result == 0)
            result = file.Write(bytes.data(), bytes.size());
        if (result == 0)
            result = file.Commit();
        if (result == EEXIST)
            continue;
        if (result == 0)
            written = *path;
        return result;
    }
    return EEXIST;
}

// Runs the preview loader in one mode, pumping its callbacks on this thread.
bool RunLoader(TCliSession& session, TIpodPhotoDb& photos, bool cameraRoll) {
    bool done = false;
    bool completed = true;
    int lastShown = -1;
    const bool terminal = isatty(STDERR_FILENO) != 0;
    session.Device->Busy = true;
    TLoadAllThumbnailThd loader(
        &photos, cameraRoll,
        [&](bool result) {
            completed = result;
            done = true;
        },
        [&](int index, int total) {
            // A line per tenth keeps long libraries readable.
            int step = total >= 10 ? total / 10 : 1;
            if (index == total - 1 || index / step != lastShown / step) {
                // One line redrawn in place on a terminal; plain lines in a log.
                std::fprintf(
                    stderr,
                    terminal ? "\rLoading preview:  %d / %d" : "Loading preview:  %d / %d\n",
                    index + 1, total);
                lastShown = index;
            }
        },
        session.Queue.Dispatcher());
    while (!done)
        session.Queue.ProcessEvents(std::chrono::milliseconds(100));
    loader.WaitFor();
    session.Device->Busy = false;
    if (terminal && lastShown >= 0)
        std::fputc('\n', stderr);
    return completed;
}

struct TPreviewCount {
    int Written = 0;
    int Empty = 0;
    int Failed = 0;
};

void WritePreview(const std::string& folder, const std::string& base, const TBitmap& picture,
                  TPreviewCount& count) {
    if (picture.Empty()) {
        ++count.Empty;
        return;
    }
    std::vector<uint8_t> png = EncodePng(picture);
    std::string written;
    int result = png.empty() ? EIO : WriteNewFile(folder, base, png, written);
    if (result != 0 && result != EINVAL) {
        std::fprintf(stderr, "corvane-cli: cannot write the preview of %s: %s\n", base.c_str(),
                     std::strerror(result));
        ++count.Failed;
        return;
    }
    if (result == EINVAL) {
        // A device name that cannot be a file name here: keep the preview under a plain one.
        result = WriteNewFile(folder, "preview", png, written);
        if (result != 0) {
            ++count.Failed;
            return;
        }
    }
    ++count.Written;
}

// Runs the loader in one mode and writes its previews below folder; false when the folder
// cannot be made. A mode with nothing to show writes nothing.
bool WritePreviews(TCliSession& session, TIpodPhotoDb& photos, bool cameraRoll,
                   const std::string& folder, TPreviewCount& count) {
    const int total = cameraRoll ? photos.CameraPhotos.Count() : photos.Photos.Count();
    if (total == 0)
        return true;
    // A real folder only: a link planted in the destination would carry the previews elsewhere.
    if (!MakeRealFolder(folder)) {
        std::fprintf(stderr, "corvane-cli: cannot create %s\n", folder.c_str());
        return false;
    }
    if (!RunLoader(session, photos, cameraRoll))
        std::fprintf(stderr, "Some pictures cannot be loaded this time\n");
    for (int i = 0; i < total; ++i) {
        if (cameraRoll) {
            const TCamPhotoItem& item = photos.CameraPhotos.Items(i);
            WritePreview(folder, item.FileName, item.Thumb, count);
        } else {
            const TPhotoItem& photo = photos.Photos.Items(i);
            WritePreview(folder, photo.Name, photo.Thumb, count);
        }
    }
    return true;
}

}  // namespace

int RunPhotosList(const TArgs& args) {
    TCliSession session;
    bool loaded = false;
    int status = 0;
    auto photos = LoadPhotos(session, args, loaded, status);
    if (!photos)
        return status;
    std::string text = args.Flag("--json") ? PhotoLibraryJson(*session.Device, *photos, loaded)
                                           : PhotoLibraryTable(*session.Device, *photos, loaded);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

int RunPhotosPreviews(const TArgs& args) {
    std::string to = args.Value("--to");
    if (to.empty()) {
        std::fprintf(stderr, "corvane-cli: photos previews needs --to DIR\n");
        return 2;
    }
    // The destination check measures a file system, which only an absolute path names.
    std::error_code absoluteError;
    to = std::filesystem::absolute(to, absoluteError).string();
    TCliSession session;
    bool loaded = false;
    int status = 0;
    auto photos = LoadPhotos(session, args, loaded, status);
    if (!photos)
        return status;
    // The exports' check: never into the device, and the folder made here.
    if (!session.Device->CheckDestination(to, 0)) {
        std::fprintf(stderr, "corvane-cli: %s\n", to.c_str());
        return 1;
    }
    while (to.size() > 1 && to.back() == '/')
        to.pop_back();

    const std::string libraryDir = to + "/library";
    const std::string cameraDir = to + "/camera_roll";
    TPreviewCount library;
    TPreviewCount camera;
    if (!WritePreviews(session, *photos, false, libraryDir, library) ||
        !WritePreviews(session, *photos, true, cameraDir, camera))
        return 1;
    std::printf("%d library previews written to %s", library.Written, libraryDir.c_str());
    if (library.Empty > 0)
        std::printf(" (%d photos have no preview)", library.Empty);
    std::printf("\n%d camera-roll previews written to %s\n", camera.Written, cameraDir.c_str());
    if (!loaded)
        std::printf("Either the photo library is empty or it cannot be accessed currently.\n");
    std::fputs(IndentedLog(photos->Log.Text()).c_str(), stderr);
    return library.Failed + camera.Failed > 0 ? 1 : 0;
}

}  // namespace corvane::cli
