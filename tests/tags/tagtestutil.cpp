#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace bwtest {

std::span<const std::byte> Span(std::string_view s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

std::string ReadText(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, std::string_view data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string MakeMp3(const TTempDir& dir, const std::string& name) {
    static TTempDir cache;
    static std::string tone;
    if (tone.empty()) {
        tone = cache.File("tone.mp3");
        // No tags from ffmpeg itself: the tests put them there.
        MakeTone(tone, 0.5, 44100, 2,
                 {"-c:a", "libmp3lame", "-b:a", "64k", "-id3v2_version", "0", "-write_id3v1", "0",
                  "-write_xing", "0", "-map_metadata", "-1"});
    }
    const std::string path = dir.File(name);
    std::filesystem::copy_file(tone, path, std::filesystem::copy_options::overwrite_existing);
    return path;
}

std::string Python(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/python3", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunOk(argv);
}

int InChild(const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string BE32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string SyncSafe32(uint32_t v) {
    return {static_cast<char>((v >> 21) & 0x7F), static_cast<char>((v >> 14) & 0x7F),
            static_cast<char>((v >> 7) & 0x7F), static_cast<char>(v & 0x7F)};
}

std::string LE32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

} // namespace bwtest
