#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

namespace bwtest {

TTempDir::TTempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int i = 0; i < 100; ++i) {
        auto p = base / ("bwtest-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            path_ = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TTempDir::~TTempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind on purpose; make them removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

std::string RunOk(const std::vector<std::string>& argv) {
    auto r = Run(argv);
    if (r.ExitCode != 0) {
        std::string cmd;
        for (const auto& a : argv)
            cmd += a + " ";
        ADD_FAILURE() << cmd << "exited " << r.ExitCode << ": " << r.Err;
    }
    return r.Out;
}

void MakeTone(const std::string& path, double seconds, int rate, int channels,
              const std::vector<std::string>& extraOptions) {
    RunOk(bwmedia::ToneCommand(path, seconds, rate, channels, extraOptions));
}

std::vector<std::byte> FfmpegDecode(const std::string& path, const std::string& format) {
    const std::string out =
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", format, "-"});
    const auto* p = reinterpret_cast<const std::byte*>(out.data());
    return std::vector<std::byte>(p, p + out.size());
}

std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::byte> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> c((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto* p = reinterpret_cast<const std::byte*>(c.data());
    return std::vector<std::byte>(p, p + c.size());
}

void WriteAll(const std::string& path, const std::vector<std::byte>& data) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool WaitFor(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::filesystem::path BuildDir() { return bwmedia::BuildTree(); }

void PrepareTestEnvironment() {
    // Tests run headless and silent unless the caller asked otherwise.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    // The programs the conversions start (our resampler) are found where the build puts
    // them, as an installed program finds them beside itself.
    const char* path = std::getenv("PATH");
    const std::string withPrograms = BuildDir().string() + "/bin" + (path ? ":" + std::string(path) : "");
    setenv("PATH", withPrograms.c_str(), 1);
}

} // namespace bwtest
