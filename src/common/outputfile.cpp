#include "common/outputfile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

} // namespace

std::string TemporaryPathFor(const std::string& target) {
    static std::atomic<unsigned> counter{0};
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string prefix = folder + ".bw-" + std::to_string(::getpid()) + "-";
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
