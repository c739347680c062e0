#include "common/outputfile.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

namespace {

// The extension of the file name part (from its last dot), or empty.
std::string ExtensionOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot == std::string::npos || dot <= nameStart || dot + 1 == path.size())
        return {};
    return path.substr(dot);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

constexpr std::string_view kTemporaryPrefix = ".bw-";

// A decimal number as TemporaryPathFor writes one (no sign, no leading zero) at the start
// of text, taken off it; 0 when there is none.
long long TakeNumber(std::string_view& text) {
    if (text.empty() || text.front() == '0')
        return 0;
    long long n = 0;
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (err != std::errc() || n <= 0)
        return 0;
    text.remove_prefix(static_cast<size_t>(end - text.data()));
    return n;
}

// The process id in a name ".bw-<pid>-<n>" with an extension or none; 0 for any other name.
pid_t WriterOfTemporaryName(std::string_view name) {
    if (!name.starts_with(kTemporaryPrefix))
        return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    const long long pid = TakeNumber(name);
    if (pid <= 0 || static_cast<pid_t>(pid) != pid || !name.starts_with('-'))
        return 0;
    name.remove_prefix(1);
    if (TakeNumber(name) == 0)
        return 0;
    // What is left is the extension: one dot and a name without another. An encoder that
    // writes a pair of files (wavpack with its correction file) puts ".tmp" before it until
    // it has finished both.
    if (name.starts_with(".tmp."))
        name.remove_prefix(4);
    const bool extension = name.empty() || (name.size() > 1 && name.front() == '.' &&
                                            name.find('.', 1) == std::string_view::npos);
    return extension ? static_cast<pid_t>(pid) : 0;
}

} // namespace

bool ProcessIsGone(pid_t pid) {
    return pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

void RemoveStaleTemporaryFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A folder that cannot be listed has nothing to clear; the write there will say why.
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string path = it->path().string();
        const pid_t pid = WriterOfTemporaryName(it->path().filename().string());
        if (pid == 0 || !ProcessIsGone(pid))
            continue;
        // Only a plain file of our own: never a link, a folder or another user's file.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
            RemoveFileQuietly(path);
    }
}

std::string TemporaryPathFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string prefix =
        folder + std::string(kTemporaryPrefix) + std::to_string(::getpid()) + "-";
    const std::string extension = ExtensionOf(target);
    // A name left behind by an earlier process with the same number is not reused.
    std::string name;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name = prefix + std::to_string(++counter) + extension;
        if (!Exists(name))
            break;
    }
    return name;
}

bool ReplaceWithTemporary(const std::string& temporary, const std::string& target,
                          std::string& error) {
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::strerror(errno);
        RemoveFileQuietly(temporary);
        return false;
    }
    return true;
}

void RemoveFileQuietly(const std::string& path) {
    if (!path.empty())
        ::unlink(path.c_str());
}

TPendingOutput::TPendingOutput(std::string target)
    : target_(std::move(target)), temporary_(TemporaryPathFor(target_)),
      targetExisted_(Exists(target_)) {}

TPendingOutput::~TPendingOutput() { Discard(); }

bool TPendingOutput::Commit(std::string& error) {
    if (temporary_.empty()) {
        error = "the output was already finished";
        return false;
    }
    const bool moved = ReplaceWithTemporary(temporary_, target_, error);
    temporary_.clear();
    return moved;
}

void TPendingOutput::KeepPartial() {
    std::string ignored;
    if (!targetExisted_ && !Exists(target_))
        Commit(ignored);
    Discard();
}

void TPendingOutput::Discard() {
    RemoveFileQuietly(temporary_);
    temporary_.clear();
}

} // namespace bw
