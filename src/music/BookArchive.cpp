// Books that a mobile device keeps as a folder leave the export as one archive file.
#include <zip.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"
#include "platform/SystemFolders.h"

namespace corvane {

namespace {

// Past this many numbered names something is wrong with the folder; give up.
constexpr int kMaxNameNumber = 1000000;
constexpr int kMaxTempAttempts = 100;
// Room for ".zip.part-NN" within the 255 bytes of a name.
constexpr size_t kMaxTempLeaf = 200;

struct TZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using TZipHandle = std::unique_ptr<zip_t, TZipDiscard>;

struct TZipSourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using TZipSource = std::unique_ptr<zip_source_t, TZipSourceFree>;

int SystemError(zip_error_t* error) {
    if (zip_error_system_type(error) == ZIP_ET_SYS && zip_error_code_system(error) != 0)
        return zip_error_code_system(error);
    return EIO;
}

std::string CanonicalPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

// True when path names something strictly below root, links resolved.
bool IsBelow(const std::string& path, const std::string& root) {
    std::string inner = CanonicalPath(path);
    std::string outer = CanonicalPath(root);
    if (inner.empty() || outer.empty())
        return false;
    if (outer != "/")
        outer += '/';
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

// The files below folder as archive entry names, "mimetype" first: a book reader finds the
// kind of an electronic book there, as the first entry.
std::vector<std::string> EntryNames(const std::string& folder) {
    std::vector<std::string> files;
    ListLocalTree(folder, files);
    std::vector<std::string> names;
    for (const std::string& file : files) {
        if (file.size() > folder.size() + 1 && file.compare(0, folder.size(), folder) == 0)
            names.push_back(file.substr(folder.size() + 1));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        if ((a == "mimetype") != (b == "mimetype"))
            return a == "mimetype";
        return a < b;
    });
    return names;
}

// Opens a new archive under a hidden name of its own beside the folder.
TZipHandle CreateTempArchive(const std::string& folderName, std::string& tempName, int& error) {
    size_t slash = folderName.rfind('/');
    std::string parent = slash == std::string::npos ? "" : folderName.substr(0, slash + 1);
    std::string leaf = slash == std::string::npos ? folderName : folderName.substr(slash + 1);
    leaf = CutFileName(leaf, kMaxTempLeaf);
    error = EEXIST;
    for (int attempt = 0; attempt < kMaxTempAttempts; ++attempt) {
        std::string candidate = parent + "." + leaf + ".zip.part-" + std::to_string(attempt);
        // The archive library tests the name through links; a dangling one must stay too.
        if (PathExists(candidate))
            continue;
        int code = 0;
        TZipHandle archive(zip_open(candidate.c_str(), ZIP_CREATE | ZIP_EXCL, &code));
        if (archive) {
            tempName = std::move(candidate);
            return archive;
        }
        if (code != ZIP_ER_EXISTS) {
            error = code == ZIP_ER_MEMORY ? ENOMEM : EIO;
            return nullptr;
        }
    }
    return nullptr;
}

// Adds every file as a deflated entry (the "mimetype" entry stored, as book readers expect)
// and writes the archive; 0 or errno.
int WriteArchive(TZipHandle archive, const std::string& folderName,
                 const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::string file = folderName + "/" + name;
        // Start 0 and length 0 take the whole file.
        TZipSource source(zip_source_file(archive.get(), file.c_str(), 0, 0));
        if (!source)
            return SystemError(zip_get_error(archive.get()));
        zip_int64_t index =
            zip_file_add(archive.get(), name.c_str(), source.get(), ZIP_FL_ENC_UTF_8);
        if (index < 0)
            return SystemError(zip_get_error(archive.get()));
        source.release();  // the archive owns it now
        zip_int32_t method = name == "mimetype" ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
        if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), method, 0))
            return SystemError(zip_get_error(archive.get()));
    }
    if (zip_close(archive.get()) != 0)
        return SystemError(zip_get_error(archive.get()));
    archive.release();  // closed and freed
    return 0;
}

// Gives the new archive its final name: the first free one, or an existing file of the same
// non-zero size, which then stays and the new archive goes. 0 or errno.
int PlaceArchive(const std::string& tempName, const std::string& folderName, const std::string& ext,
                 std::string& archive) {
    uint64_t size = FileSize(tempName).value_or(0);
    for (int n = 0; n <= kMaxNameNumber; ++n) {
        // Appended piece by piece: GCC 12 misreads "_" + std::to_string(n) as an overlapping copy.
        std::string candidate = folderName;
        if (n != 0)
            candidate.append("_").append(std::to_string(n));
        candidate += ext;
        if (!PathExists(candidate)) {
            int error = RenameNoReplace(tempName, candidate);
            if (error == 0) {
                archive = candidate;
                return 0;
            }
            if (error != EEXIST)
                return error;
        }
        if (size > 0 && FileExists(candidate) && FileSize(candidate) == size) {
            unlink(tempName.c_str());
            archive = candidate;
            return 0;
        }
    }
    return EEXIST;
}

}  // namespace

std::string TIpodMusicDb::BookExtension(const std::string& location) {
    std::string ext = ExtractFileExt(location);
    return ext.empty() ? ".epub" : ext;
}

int TIpodMusicDb::ZipBookFolder(const std::string& folder, const std::string& archiveBase,
                                const std::string& ext, std::string& archive) {
    std::vector<std::string> names = EntryNames(folder);
    if (names.empty())
        return LocalCopyCode(ENOENT);  // an archive needs at least one entry
    std::string tempName;
    int error = 0;
    // Beside the copied folder, which is private to this export: no other export can pick the
    // same temporary name.
    TZipHandle handle = CreateTempArchive(folder, tempName, error);
    if (!handle)
        return LocalCopyCode(error);
    error = WriteArchive(std::move(handle), folder, names);
    if (error == 0)
        error = PlaceArchive(tempName, archiveBase, ext, archive);
    if (error != 0)
        unlink(tempName.c_str());
    return LocalCopyCode(error);
}

bool TIpodMusicDb::RemoveCopiedFolder(const std::string& folderPath) {
    if (!DirectoryExists(folderPath) || DestFolder.empty() || !IsBelow(folderPath, DestFolder))
        return false;
    return MoveToTrash(folderPath) == 0;
}

}  // namespace corvane
