// Local file writes that never overwrite and never leave a truncated file under a final name:
// data goes to a temporary name in the target's folder and is renamed into place, refusing to
// replace an existing file, only when complete. Results are errno values (0 = done).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane {

// A copy's report after each chunk written: done bytes of the file so far, of size (0 when
// the copy cannot tell). It runs on the copying thread and must be cheap.
using TCopyProgress = std::function<void(uint64_t done, uint64_t size)>;

// Copies a whole local file with the kernel's copy; EEXIST when target exists.
int CopyFileNoReplace(const std::string& source, const std::string& target,
                      const TCopyProgress& progress = {});

// Writes one file piece by piece; Commit publishes it, anything else removes it.
class TAtomicFileWriter {
public:
    explicit TAtomicFileWriter(std::string target);
    ~TAtomicFileWriter();  // discards an uncommitted file
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    // Creates the temporary file; 0 or errno (EEXIST when target already exists).
    int Open();
    // 0 or errno (ENOSPC when the disk is full).
    int Write(const void* data, size_t count);
    // Renames into place without replacing; 0 or errno. The temporary file is gone either way.
    int Commit();
    // Removes the temporary file.
    void Discard();

    const std::string& Target() const { return FTarget; }

private:
    std::string FTarget;
    std::string FTempName;
    int FFd = -1;
};

// Renames without replacing an existing target (renameat2 NOREPLACE, link+unlink fallback).
int RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace corvane
