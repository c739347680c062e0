// Every stream reader, fed every prefix of a valid file and files with hostile sizes, must
// answer cleanly: no crash, no hang, no allocation past the input.

#include "streamtestutil.h"
#include "tagtestutil.h"
#include "tags/cdatrack.h"
#include "tags/flacfile.h"
#include "tags/monkey.h"
#include "tags/mpegaudio.h"
#include "tags/mp4tags.h"
#include "tags/mpegplus.h"
#include "tags/oggvorbis.h"
#include "tags/tagsource.h"
#include "tags/wavfile.h"
#include "tags/wavpackfile.h"
#include "tags/wmafile.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

template <class Reader> bool LoadValid(Reader& r, TTagSource& src) {
    if constexpr (std::is_same_v<Reader, TCDAtrack>)
        return r.ReadFrom(src) && r.Valid();
    else if constexpr (std::is_same_v<Reader, TMonkey>)
        return r.Load(src) && r.Valid();
    else if constexpr (std::is_same_v<Reader, TMp4Tags>)
        return r.Load(src) && r.Text(kMp4Title) == "x";
    else
        return r.Load(src) && r.Valid() && r.Duration() > 0;
}

// Loads every prefix (every length up to a limit, then coarser steps) of a valid file's
// bytes, and the file with each 32-bit word in turn set to all ones (sizes and counts at
// their largest). The whole file must read as valid, a stub of a few bytes never.
template <class Reader> void LoadEveryPrefix(const std::vector<std::byte>& bytes, const char* name) {
    Reader r;
    for (size_t n = 0; n <= bytes.size(); n += (n < 3000 ? 1 : 997)) {
        TMemorySource src(std::span<const std::byte>(bytes).first(n));
        const bool valid = LoadValid(r, src);
        if (n < 8) {
            EXPECT_FALSE(valid) << name << " cut to " << n;
        }
    }
    TMemorySource whole(bytes);
    EXPECT_TRUE(LoadValid(r, whole)) << name;
    for (size_t at = 0; at + 4 <= std::min<size_t>(bytes.size(), 2048); at += 4) {
        auto copy = bytes;
        for (size_t k = 0; k < 4; ++k)
            copy[at + k] = std::byte{0xFF};
        TMemorySource src(copy);
        LoadValid(r, src);
    }
}

class HostileStreams : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new bwtest::TTempDir;
        bwtest::MakeTone(dir_->File("t.wav"), 0.5);
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::vector<std::byte> Made(const std::string& name, std::vector<std::string> argv) {
        bwtest::RunOk(argv);
        return bwtest::ReadAll(dir_->File(name));
    }
    static bwtest::TTempDir* dir_;
};
bwtest::TTempDir* HostileStreams::dir_ = nullptr;

} // namespace

TEST_F(HostileStreams, EveryReaderSurvivesCutAndCorruptedFiles) {
    const std::string wav = dir_->File("t.wav");
    LoadEveryPrefix<TWAVfile>(bwtest::ReadAll(wav), "wav");
    LoadEveryPrefix<TMPEGaudio>(Made("t.mp3", {"lame", "--quiet", "--tt", "x", wav, dir_->File("t.mp3")}), "mp3");
    LoadEveryPrefix<TOggVorbis>(Made("t.ogg", {"oggenc", "-Q", "-t", "x", wav, "-o", dir_->File("t.ogg")}), "ogg");
    LoadEveryPrefix<TFLACfile>(Made("t.flac", {"flac", "-s", "-f", "-T", "TITLE=x", wav, "-o", dir_->File("t.flac")}), "flac");
    LoadEveryPrefix<TWMAfile>(Made("t.wma", {"ffmpeg", "-v", "error", "-i", wav, "-metadata", "title=x", dir_->File("t.wma")}), "wma");
    LoadEveryPrefix<TWAVPackfile>(Made("t.wv", {"wavpack", "-q", "-y", wav, "-o", dir_->File("t.wv")}), "wv");
    LoadEveryPrefix<TMp4Tags>(Made("t.m4a", {"ffmpeg", "-v", "error", "-i", wav, "-c:a", "aac", "-metadata", "title=x", "-movflags", "+faststart", dir_->File("t.m4a")}), "m4a");
    LoadEveryPrefix<TMPEGplus>(Made("t.mpc", {"mpcenc", "--silent", "--overwrite", "--title", "x", wav, dir_->File("t.mpc")}), "mpc");
    std::string ape = "MAC " + bwtest::LE16(3990) + std::string(2, '\0') + bwtest::LE32(52) +
                      bwtest::LE32(24) + std::string(36, '\0') + std::string(24, '\x01');
    const auto* p = reinterpret_cast<const std::byte*>(ape.data());
    LoadEveryPrefix<TMonkey>(std::vector<std::byte>(p, p + ape.size()), "ape");
    std::string cda = "RIFF" + bwtest::LE32(36) + "CDDAfmt " + std::string(28, '\x02');
    p = reinterpret_cast<const std::byte*>(cda.data());
    LoadEveryPrefix<TCDAtrack>(std::vector<std::byte>(p, p + cda.size()), "cda");
}

TEST_F(HostileStreams, AValidFileStillReadsAfterTheReaderSawGarbage) {
    // The readers are reused for every probe: a bad file must leave nothing behind.
    const std::string wav = dir_->File("t.wav");
    TWAVfile w;
    std::vector<std::byte> junk(64, std::byte{0xFF});
    TMemorySource src(junk);
    w.Load(src);
    ASSERT_TRUE(w.Load(wav));
    EXPECT_TRUE(w.Valid());
    EXPECT_EQ(w.SampleCount(), 22050);
}
