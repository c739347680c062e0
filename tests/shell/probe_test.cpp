#include "audio/mediafile.h"
#include "cli/probecommand.h"
#include "shell/folderscan.h"
#include "shell/probe.h"
#include "support/testsupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using namespace bw;

namespace {

class Probe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new bwtest::TTempDir;
        bwtest::MakeTone(dir_->File("t.wav"), 2.0);
    }
    static void TearDownTestSuite() { delete dir_; }

    static std::string Lame(const std::string& name, std::vector<std::string> opts) {
        std::vector<std::string> argv{"lame", "--quiet"};
        argv.insert(argv.end(), opts.begin(), opts.end());
        argv.push_back(dir_->File("t.wav"));
        argv.push_back(dir_->File(name));
        bwtest::RunOk(argv);
        return dir_->File(name);
    }

    static bwtest::TTempDir* dir_;
    TFileProbe probe_;
};
bwtest::TTempDir* Probe::dir_ = nullptr;

} // namespace

TEST_F(Probe, ExtensionsAreComparedInLowerCase) {
    EXPECT_EQ(SourceTypeOf("/a/SONG.MP3")->TypeName, "MP3");
    EXPECT_EQ(SourceTypeOf("x.Mp2")->TypeName, "MP2");
    EXPECT_EQ(SourceTypeOf("x.fla")->Type, TSourceType::Flac);
    EXPECT_EQ(SourceTypeOf("x.ape")->TypeName, "Monkey\"s Audio");
    EXPECT_FALSE(SourceTypeOf("song.xyz"));
    EXPECT_FALSE(SourceTypeOf("/dir.mp3/noext"));

    const std::string upper = Lame("SONG.MP3", {});
    const auto r = probe_.Probe(upper);
    ASSERT_TRUE(r.Accepted) << r.Reason;
    EXPECT_EQ(r.Item.SourceType, TSourceType::Mpeg);
    EXPECT_EQ(r.Item.TypeName, "MP3");
    EXPECT_EQ(r.Item.SourcePath, upper);
    const auto xyz = probe_.Probe(dir_->File("song.xyz"));
    EXPECT_FALSE(xyz.Accepted);
    EXPECT_EQ(xyz.Reason, "unsupported file type");
}

TEST_F(Probe, Id3v2TextsWinOverId3v1AndUnknownGenresGive255) {
    const std::string path = Lame("both.mp3", {"--add-id3v2", "--tt", "V2 Title", "--ta", "V2 Artist",
                                               "--tg", "Chiptune Polka", "--tn", "5", "--ty", "1999"});
    const auto r = probe_.Probe(path);
    ASSERT_TRUE(r.Accepted) << r.Reason;
    EXPECT_TRUE(r.Item.HasTag);
    EXPECT_TRUE(r.Item.HasId3v2);
    EXPECT_EQ(r.Item.Title, "V2 Title");
    EXPECT_EQ(r.Item.Artist, "V2 Artist");
    EXPECT_EQ(r.Item.Genre, "Chiptune Polka");
    EXPECT_EQ(r.Item.GenreIndex, 255);
    EXPECT_EQ(r.Item.Track, 5);
    EXPECT_EQ(r.Item.Year, "1999");
    EXPECT_EQ(r.Item.Bitrate, 128000);
    EXPECT_EQ(r.Item.SampleRate, 44100);
    EXPECT_EQ(r.Item.Channels, 2);
    EXPECT_NEAR(r.Item.DurationMs, 2000, 100); // a CBR length counts the encoder's own frames too
}

TEST_F(Probe, Id3v1GenreAbove147ReadsAsOther) {
    const std::string path = Lame("v1.mp3", {"--id3v1-only", "--tt", "Old", "--tn", "3"});
    auto bytes = bwtest::ReadAll(path);
    ASSERT_GE(bytes.size(), 128u);
    bytes.back() = std::byte{200}; // the genre byte of the ID3v1 record
    bwtest::WriteAll(path, bytes);
    const auto r = probe_.Probe(path);
    ASSERT_TRUE(r.Accepted) << r.Reason;
    EXPECT_FALSE(r.Item.HasId3v2);
    EXPECT_EQ(r.Item.Title, "Old");
    EXPECT_EQ(r.Item.GenreIndex, 12);
    EXPECT_EQ(r.Item.Genre, "Other");
    EXPECT_EQ(r.Item.Track, 3);
}

TEST_F(Probe, EveryFormatFillsItsItem) {
    const std::string wav = dir_->File("t.wav");
    bwtest::RunOk({"oggenc", "-Q", "-t", "O", "-G", "jazz", wav, "-o", dir_->File("t.ogg")});
    bwtest::RunOk({"flac", "-s", "-f", "-T", "GENRE= Rock ", "-T", "TRACKNUMBER=x", wav, "-o", dir_->File("t.flac")});
    bwtest::RunOk({"ffmpeg", "-v", "error", "-y", "-i", wav, "-metadata", "title=W", dir_->File("t.wma")});
    bwtest::RunOk({"wavpack", "-q", "-y", wav, "-o", dir_->File("t.wv")});
    bwtest::RunOk({"mpcenc", "--silent", "--overwrite", "--title", "M", wav, dir_->File("t.mpc")});
    struct Expect {
        std::string name, type, mode;
        int bitrate; // 0: only above 0
    };
    for (const auto& e : {Expect{"t.wav", "WAV", "Stereo", 1411200}, Expect{"t.ogg", "OGG", "Stereo", 0},
                          Expect{"t.flac", "FLAC", "Stereo", 1411200}, Expect{"t.wma", "WMA", "Stereo", 128000},
                          Expect{"t.wv", "WavPack", "Stereo", 1411200}, Expect{"t.mpc", "MusePack", "JointStereo", 0}}) {
        const auto r = probe_.Probe(dir_->File(e.name));
        ASSERT_TRUE(r.Accepted) << e.name << ": " << r.Reason;
        EXPECT_EQ(r.Item.TypeName, e.type);
        EXPECT_EQ(r.Item.ChannelMode, e.mode) << e.name;
        EXPECT_NEAR(r.Item.DurationMs, 2000, 50) << e.name;
        if (e.bitrate)
            EXPECT_EQ(r.Item.Bitrate, e.bitrate) << e.name;
        else
            EXPECT_GT(r.Item.Bitrate, 0) << e.name;
        EXPECT_GT(r.Item.FileSize, 0) << e.name;
    }
    const auto ogg = probe_.Probe(dir_->File("t.ogg"));
    EXPECT_TRUE(ogg.Item.HasTag);
    EXPECT_EQ(ogg.Item.GenreIndex, 8); // "jazz" found without regard to case
    const auto flac = probe_.Probe(dir_->File("t.flac"));
    EXPECT_EQ(flac.Item.Genre, "Rock");
    EXPECT_EQ(flac.Item.GenreIndex, 17);
    EXPECT_EQ(flac.Item.Track, 0); // "x" is not a number
    EXPECT_EQ(probe_.Probe(dir_->File("t.wv")).Item.HasTag, false);
    EXPECT_EQ(probe_.Probe(dir_->File("t.mpc")).Item.Title, "M");
}

// The files FFmpeg reads: named by their codec, as long as ffprobe says, with their own
// tags and front cover. What holds no audio, or would have FFmpeg read other files (a
// playlist), is refused as an unknown file is, and passed over in a folder.
TEST_F(Probe, OtherFormatsByCodecWithTheirTagsAndCover) {
    const std::string wav = dir_->File("t.wav"), png = dir_->File("cover.png");
    bwtest::RunOk({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=16x16", "-frames:v", "1", png});
    const auto make = [&](const std::string& name, std::vector<std::string> argv, bool cover) {
        argv.insert(argv.begin(), {"ffmpeg", "-v", "error", "-y", "-i", wav});
        if (cover)
            argv.insert(argv.begin() + 6, {"-i", png, "-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v", "attached_pic",
                                     "-metadata:s:v", "comment=Cover (front)"});
        for (const char* tag : {"title=T", "artist=A", "album=B", "date=2001", "genre=Jazz", "track=3/12", "comment=C"})
            argv.insert(argv.end(), {"-metadata", tag});
        argv.push_back(dir_->File(name));
        bwtest::RunOk(argv);
    };
    make("aac.m4a", {"-c:a", "aac"}, true);
    make("alac.m4a", {"-c:a", "alac"}, true);
    make("t.opus", {"-c:a", "libopus"}, false);
    make("t.aiff", {"-write_id3v2", "1"}, true);
    make("t.tta", {}, false);
    make("id3.mp3", {"-id3v2_version", "3"}, true);
    ASSERT_TRUE(bwmedia::MakeDsf(wav, dir_->File("t.dsf"), dir_->File("id3.mp3")));
    for (const auto& [name, type, rate, hasCover] : std::vector<std::tuple<const char*, const char*, int, bool>>{
             {"aac.m4a", "AAC", 44100, true}, {"alac.m4a", "ALAC", 44100, true}, {"t.opus", "Opus", 48000, false},
             {"t.aiff", "AIFF", 44100, true}, {"t.tta", "TTA", 44100, false}, {"t.dsf", "DSD", 352800, true}}) {
        SCOPED_TRACE(name);
        const std::string path = dir_->File(name);
        const auto r = probe_.Probe(path);
        ASSERT_TRUE(r.Accepted) << r.Reason;
        EXPECT_EQ(r.Item.TypeName, type);
        const std::string ffprobe = bwtest::RunOk({"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
        EXPECT_NEAR(r.Item.DurationMs, std::stod(ffprobe) * 1000, 50);
        EXPECT_EQ(r.Item.SampleRate, rate);
        EXPECT_GT(r.Item.Bitrate, 0);
        EXPECT_EQ(r.Item.Title + r.Item.Artist + r.Item.Album + r.Item.Year + r.Item.Comment, "TAB2001C");
        EXPECT_EQ(r.Item.GenreIndex, 8);
        EXPECT_EQ(r.Item.Track, 3);
        const auto cover = TMediaFile::FrontCover(path);
        EXPECT_EQ(cover.has_value(), hasCover);
        EXPECT_TRUE(!cover || (cover->Data == bwtest::ReadAll(png) && cover->PictureType == 3 && cover->MimeType == "image/png"));
    }
    bwtest::RunOk({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=32x32:d=0.2", dir_->File("silent.mp4")});
    bwtest::WriteAll(dir_->File("text.m4a"), std::vector<std::byte>(64, std::byte{'a'}));
    std::ofstream(dir_->File("list.m4a")) << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\naac.m4a\n#EXT-X-ENDLIST\n";
    for (const char* name : {"silent.mp4", "text.m4a", "list.m4a"}) {
        EXPECT_EQ(probe_.Probe(dir_->File(name)).Reason, "unsupported file type") << name;
        EXPECT_FALSE(ProbeFoundFile(probe_, {dir_->File(name), dir_->Path().string()})) << name;
    }
}

TEST_F(Probe, CdTrackFilesAndRefusals) {
    std::string cda = "RIFF" + std::string("\x24\0\0\0", 4) + "CDDAfmt " + std::string(6, '\0') +
                      std::string("\x02\0", 2) + std::string("\x10\0\0\0", 4) + std::string(4, '\0') +
                      std::string("\x2c\x01\0\0", 4) + std::string(8, '\0');
    const auto* p = reinterpret_cast<const std::byte*>(cda.data());
    bwtest::WriteAll(dir_->File("Track02.cda"), std::vector<std::byte>(p, p + cda.size()));
    probe_.SetCdPlayerDatabase(dir_->File("none.ini"));
    const auto r = probe_.Probe(dir_->File("Track02.cda"));
    ASSERT_TRUE(r.Accepted) << r.Reason;
    EXPECT_EQ(r.Item.DurationMs, 4000); // 300 frames
    EXPECT_EQ(r.Item.FileSize, 4000 * 177);
    EXPECT_EQ(r.Item.Bitrate, 1411200);
    EXPECT_EQ(r.Item.Track, 2);
    EXPECT_FALSE(r.Item.HasTag);

    bwtest::WriteAll(dir_->File("empty.mp3"), {});
    EXPECT_FALSE(probe_.Probe(dir_->File("empty.mp3")).Accepted);
    EXPECT_EQ(probe_.Probe(dir_->File("missing.flac")).Reason, "cannot be read");
    EXPECT_EQ(probe_.Probe(dir_->File("t.wav") + ".ogg").Reason, "cannot be read");
    // A folder named like a file is not a file.
    std::filesystem::create_directory(dir_->File("folder.mp3"));
    EXPECT_FALSE(probe_.Probe(dir_->File("folder.mp3")).Accepted);
}

TEST_F(Probe, CommandPrintsOneObjectPerFileInOrder) {
    const std::string mp3 = Lame("cli.mp3", {"--tt", "Quote \" and \\ slash"});
    std::ostringstream out;
    const int status = RunProbeCommand({mp3, dir_->File("nope.xyz"), dir_->File("t.wav")}, out, out);
    EXPECT_EQ(status, 1); // one file refused
    std::istringstream lines(out.str());
    std::string first, second, third, extra;
    std::getline(lines, first);
    std::getline(lines, second);
    std::getline(lines, third);
    EXPECT_FALSE(std::getline(lines, extra));
    EXPECT_NE(first.find("\"SourcePath\":\"" + mp3 + "\""), std::string::npos);
    EXPECT_NE(first.find("\"Title\":\"Quote \\\" and \\\\ slash\""), std::string::npos);
    EXPECT_NE(first.find("\"TypeName\":\"MP3\""), std::string::npos);
    EXPECT_NE(first.find("\"accepted\":true}"), std::string::npos);
    EXPECT_NE(second.find("\"accepted\":false,\"reason\":\"unsupported file type\""), std::string::npos);
    EXPECT_NE(third.find("\"SourceType\":2"), std::string::npos);
    // Every line parses as JSON for an outside reader too.
    const auto check = bwtest::Run({"/usr/bin/python3", "-c",
                                    "import json,sys\nfor l in sys.stdin: json.loads(l)"},
                                   out.str());
    EXPECT_EQ(check.ExitCode, 0) << check.Err;
}

// Sources of more than two channels are taken, with their real channel count: the
// conversion downmixes them or keeps every channel.
TEST_F(Probe, SurroundSourcesAreTakenWithTheirChannelCount) {
    const std::string wav = dir_->File("six.wav"); // WAVE_FORMAT_EXTENSIBLE, as FFmpeg writes 5.1
    bwtest::MakeTone(wav, 2.0, 44100, 6, {"-c:a", "pcm_s16le"});
    bwtest::RunOk({"flac", "-s", "-f", wav, "-o", dir_->File("six.flac")});
    bwtest::RunOk({"oggenc", "-Q", wav, "-o", dir_->File("six.ogg")});
    bwtest::RunOk({"wavpack", "-q", "-y", wav, "-o", dir_->File("six.wv")});
    for (const char* name : {"six.wav", "six.flac", "six.ogg", "six.wv"}) {
        SCOPED_TRACE(name);
        const auto r = probe_.Probe(dir_->File(name));
        EXPECT_TRUE(r.Accepted) << r.Reason;
        EXPECT_EQ(r.Item.Channels, 6);
        EXPECT_NEAR(r.Item.DurationMs, 2000, 50);
        EXPECT_GT(r.Item.Bitrate, 0);
    }
    EXPECT_EQ(probe_.Probe(wav).Item.Bitrate, 16 * 6 * 44100);
}

// Opus and single-track MP4 files are read from their own headers; what they give must be
// what FFmpeg's demuxer gives, and anything else in those containers is still FFmpeg's.
TEST_F(Probe, OpusAndMp4HeadersGiveWhatFfmpegGives) {
    const std::string six = dir_->File("six.wav");
    bwtest::MakeTone(six, 2.0, 44100, 6, {"-c:a", "pcm_s16le"});
    const auto make = [&](const char* name, const std::string& in, std::vector<std::string> opts) {
        std::vector<std::string> argv{"ffmpeg", "-v", "error", "-y", "-i", in};
        argv.insert(argv.end(), opts.begin(), opts.end());
        argv.push_back(dir_->File(name));
        bwtest::RunOk(argv);
    };
    const std::string wav = dir_->File("t.wav");
    make("low.opus", wav, {"-c:a", "libopus", "-ac", "1", "-b:a", "6k"});
    // 512 kbit/s over six channels: pages far longer than the tail looked at first.
    make("wide.opus", six, {"-c:a", "libopus", "-b:a", "512k"});
    make("six.m4a", six, {"-c:a", "aac"});
    make("mono.m4a", wav, {"-c:a", "alac", "-ac", "1", "-ar", "96000"});
    bwtest::RunOk({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=s=32x32:d=2", "-i", wav,
                   "-c:a", "aac", "-shortest", dir_->File("video.mp4")});
    for (const char* name : {"low.opus", "wide.opus", "six.m4a", "mono.m4a", "video.mp4"}) {
        SCOPED_TRACE(name);
        const auto r = probe_.Probe(dir_->File(name));
        TMediaFile ffmpeg;
        ASSERT_EQ(ffmpeg.Load(dir_->File(name)), TMediaFile::TLoad::Ok);
        ASSERT_TRUE(r.Accepted) << r.Reason;
        EXPECT_EQ(r.Item.TypeName, ffmpeg.TypeName());
        EXPECT_EQ(r.Item.Channels, ffmpeg.Channels());
        EXPECT_EQ(r.Item.SampleRate, ffmpeg.SampleRate());
        EXPECT_NEAR(r.Item.DurationMs, 2000, 10);
        EXPECT_NEAR(r.Item.Bitrate, ffmpeg.BitRate(), ffmpeg.BitRate() / 20);
    }
    // A file cut short ends at its last whole page.
    auto bytes = bwtest::ReadAll(dir_->File("wide.opus"));
    bytes.resize(bytes.size() * 3 / 5);
    bwtest::WriteAll(dir_->File("cut.opus"), bytes);
    const auto cut = probe_.Probe(dir_->File("cut.opus"));
    ASSERT_TRUE(cut.Accepted) << cut.Reason;
    EXPECT_GT(cut.Item.DurationMs, 800);
    EXPECT_LT(cut.Item.DurationMs, 1300);
}
