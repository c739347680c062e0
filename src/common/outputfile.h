#pragma once

#include <string>
#include <sys/types.h>

namespace bw {

// Outputs are written beside their target under a short private name and only replace the
// target once complete, so a failed or refused write never destroys a file that was there
// before. The name is ".bw-<pid>-<n>" plus the target's extension: short, so that it fits
// wherever the target's own name fits, and with the extension kept, since some encoders
// choose the format (or append an extension) by the name they are given.
std::string TemporaryPathFor(const std::string& target);
// Moves the finished temporary file over the target; false (and error) when it cannot, and
// the temporary file is removed.
bool ReplaceWithTemporary(const std::string& temporary, const std::string& target,
                          std::string& error);
void RemoveFileQuietly(const std::string& path);
// Whether no process of that id runs any more, so that the files it left may go. Never
// true for this process, nor for a live one of another user.
bool ProcessIsGone(pid_t pid);
// Removes from folder the temporary files of TemporaryPathFor left by a process that no
// longer runs (one killed while it wrote). A file of a live process, or one whose name only
// looks like ours, is left alone.
void RemoveStaleTemporaryFiles(const std::string& folder);

// A working file (a decoded source, an intermediate stage) removed when it goes out of
// scope, whichever way its user leaves.
class TScopedFile {
public:
    explicit TScopedFile(std::string path) : path_(std::move(path)) {}
    ~TScopedFile() { RemoveFileQuietly(path_); }
    TScopedFile(const TScopedFile&) = delete;
    TScopedFile& operator=(const TScopedFile&) = delete;
    const std::string& Path() const { return path_; }
    // The file is finished and stays.
    void Keep() { path_.clear(); }

private:
    std::string path_;
};

// One output being written under its temporary name. Unless committed, the temporary file
// is removed with the object, so every way out of a failed write cleans up after it.
class TPendingOutput {
public:
    explicit TPendingOutput(std::string target);
    ~TPendingOutput();
    TPendingOutput(const TPendingOutput&) = delete;
    TPendingOutput& operator=(const TPendingOutput&) = delete;

    const std::string& Target() const { return target_; }
    const std::string& TemporaryPath() const { return temporary_; }

    // The complete output takes the target's place; false (and error) when it cannot.
    bool Commit(std::string& error);
    // A pipeline writer stopped part way: what it wrote still ends cleanly and is kept
    // under the target's name, but only when no file stood there; an existing file is never
    // traded for a partial one. The conversion's outputs never keep a stopped file (they
    // discard it), so their writers are only ever given temporary names.
    void KeepPartial();
    // Drops what was written (also done by the destructor). A cancelled or failed output
    // never appears under the target's name: a cut file there would pass for a finished
    // one, and a later run that leaves existing outputs alone would keep it.
    void Discard();

private:
    std::string target_;
    std::string temporary_;
    bool targetExisted_ = false;
};

} // namespace bw
