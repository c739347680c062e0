#pragma once

#include <compare>
#include <map>
#include <set>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <unordered_set>

namespace bw {

// The files one conversion run reads and the outputs its items have taken, so that no item
// writes over a file the run reads or over another item's output. Paths are compared as
// files: two spellings of one file (a link, "a/../b", a folder named twice, a file system
// that ignores letter case) are the same file where it exists, and the same normalised path
// where it does not exist yet. Owned and used by the run's own thread only.
class TRunFiles {
public:
    void Clear();

    // A file the run reads: a source, an album image's audio file or sheet, a disc image.
    void AddRead(const std::string& path);
    // Whether writing path would replace a file the run reads.
    bool IsRead(const std::string& path) const;

    // The item of source writes path. Its output is told by the path's text until it is
    // Written; afterwards by the file too.
    void AddOutput(const std::string& path, const std::string& source);
    void Written(const std::string& path);
    // The item writing path ended without its output (failed or cancelled): another item
    // may write there after all.
    void Abandoned(const std::string& path);
    // The source of the item that writes or has written path; null when none does.
    const std::string* OutputOf(const std::string& path) const;

private:
    struct TFileId {
        dev_t Device = 0;
        ino_t Inode = 0;
        auto operator<=>(const TFileId&) const = default;
    };
    static bool IdOf(const std::string& path, TFileId& id);
    static std::string Normalised(const std::string& path);

    std::unordered_set<std::string> readPaths_;
    std::set<TFileId> readIds_;
    std::unordered_map<std::string, std::string> outputPaths_; // normalised path -> source
    std::map<TFileId, std::string> outputIds_;
};

} // namespace bw
