// Tags written here are read back by independent tools (ffprobe, mutagen), and tags those
// tools write are read here.

#include "core/genrelist.h"
#include "tags/apetag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

using namespace bwtest;

namespace {

const std::string kCyrillic = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"; // Привет
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC";                               // 日本
const std::string kEmoji = "Music \xF0\x9F\x8E\xB5";
const std::string kCafe = "Caf\xC3\xA9";

using TTags = std::map<std::string, std::string>;

// Lines "key=value" (ffprobe) or "key\tvalue" (our scripts) into a map.
TTags ParseLines(const std::string& text, char separator) {
    TTags tags;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(separator);
        if (at != std::string::npos)
            tags[line.substr(0, at)] = line.substr(at + 1);
    }
    return tags;
}

TTags Ffprobe(const std::string& path) {
    TTags raw = ParseLines(RunOk({"ffprobe", "-v", "error", "-show_entries", "format_tags", "-of",
                                  "default=noprint_wrappers=1", path}),
                           '=');
    TTags tags;
    for (const auto& [key, value] : raw) {
        std::string name = key.substr(key.find(':') + 1);
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        tags[name] = value;
    }
    return tags;
}

// The ID3 frames mutagen reads, as they stand (no conversion between versions).
TTags MutagenID3(const std::string& path) {
    return ParseLines(Python(R"(
import sys
from mutagen.id3 import ID3
t = ID3(sys.argv[1], translate=False)
print("version\t%d.%d" % (t.version[0], t.version[1]))
for f in t.values():
    if f.FrameID == "TCON":
        print("TCON\t" + f.genres[0])
    elif f.FrameID == "COMM":
        print("COMM\t" + str(f.text[0]))
    elif f.FrameID in ("WXXX",):
        print("WXXX\t" + f.url)
    elif hasattr(f, "text"):
        print(f.FrameID + "\t" + str(f.text[0]))
)",
                             {path}),
                      '\t');
}

TEST(TagRoundTrip, OurID3v2IsReadByFfprobeAndMutagen) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    // The MP3 output order: the ID3v1 record first, then the ID3v2 tag in front.
    bw::TID3v1 v1;
    v1.SetTitle(kCyrillic);
    v1.SetArtist(kCafe);
    v1.SetTrack(5);
    v1.SetGenreIndex(17);
    ASSERT_TRUE(v1.Save(mp3));
    bw::TID3v2 v2;
    v2.SetTitle(kCyrillic);
    v2.SetArtist(kCafe);
    v2.SetAlbum(kCjk);
    v2.SetComment(kEmoji);
    v2.SetYear("2024");
    v2.SetGenre("Rock");
    v2.SetTrack(5);
    ASSERT_TRUE(v2.Save(mp3));

    const TTags m = MutagenID3(mp3);
    EXPECT_EQ(m.at("version"), "2.3");
    EXPECT_EQ(m.at("TIT2"), kCyrillic);
    EXPECT_EQ(m.at("TPE1"), kCafe);
    EXPECT_EQ(m.at("TALB"), kCjk);
    EXPECT_EQ(m.at("COMM"), kEmoji);
    EXPECT_EQ(m.at("TYER"), "2024");
    EXPECT_EQ(m.at("TCON"), "Rock");
    EXPECT_EQ(m.at("TRCK"), "5");

    const TTags f = Ffprobe(mp3);
    EXPECT_EQ(f.at("title"), kCyrillic);
    EXPECT_EQ(f.at("artist"), kCafe);
    EXPECT_EQ(f.at("album"), kCjk);
    EXPECT_EQ(f.at("comment"), kEmoji);
    EXPECT_EQ(f.at("date"), "2024");
    EXPECT_EQ(f.at("genre"), "Rock");
    EXPECT_EQ(f.at("track"), "5");
    // The audio behind the tag still decodes to the same samples.
    EXPECT_EQ(FfmpegDecode(mp3), FfmpegDecode(MakeMp3(dir, "plain.mp3")));
}

TEST(TagRoundTrip, OurID3v1IsReadByFfprobeAndMutagen) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    bw::TID3v1 v1;
    v1.SetTitle("Title " + kCafe);
    v1.SetArtist("Artist");
    v1.SetAlbum("Album");
    v1.SetYear("1999");
    v1.SetComment("Comment");
    v1.SetTrack(7);
    v1.SetGenreIndex(static_cast<uint8_t>(bw::GenreList().ByteFor("Rock")));
    ASSERT_TRUE(v1.Save(mp3));

    const TTags m = MutagenID3(mp3); // mutagen shows an ID3v1 record as ID3 frames
    EXPECT_EQ(m.at("TIT2"), "Title " + kCafe);
    EXPECT_EQ(m.at("TPE1"), "Artist");
    EXPECT_EQ(m.at("TALB"), "Album");
    EXPECT_EQ(m.at("TRCK"), "7");
    EXPECT_EQ(m.at("TCON"), "Rock");
    // ffprobe passes ID3v1 bytes through without decoding them, so it checks the ASCII ones.
    const TTags f = Ffprobe(mp3);
    EXPECT_EQ(f.at("artist"), "Artist");
    EXPECT_EQ(f.at("track"), "7");
    EXPECT_EQ(f.at("genre"), "Rock");
    EXPECT_EQ(f.at("date"), "1999");
}

TEST(TagRoundTrip, OurAPETagIsReadByMutagenAndFfprobe) {
    TTempDir dir;
    // ffmpeg reads APE tags where they belong natively: a WavPack file.
    const std::string wav = dir.File("a.wav"), wv = dir.File("a.wv");
    MakeTone(wav, 0.3);
    RunOk({"wavpack", "-q", "-y", wav, "-o", wv});
    bw::TAPETag ape;
    ape.AddItem("Title", kCyrillic);
    ape.AddItem("Artist", kEmoji);
    ape.AddItem("Track", "3");
    ASSERT_TRUE(ape.Save(wv));
    const std::string readApe = R"(
import sys
from mutagen.apev2 import APEv2
for k, v in APEv2(sys.argv[1]).items():
    print(k + "\t" + str(v))
)";
    TTags m = ParseLines(Python(readApe, {wv}), '\t');
    EXPECT_EQ(m.at("Title"), kCyrillic);
    EXPECT_EQ(m.at("Artist"), kEmoji);
    EXPECT_EQ(m.at("Track"), "3");
    const TTags f = Ffprobe(wv);
    EXPECT_EQ(f.at("title"), kCyrillic);
    EXPECT_EQ(f.at("artist"), kEmoji);
    EXPECT_EQ(FfmpegDecode(wv), FfmpegDecode(wav));

    // Behind an ID3v1 record: the tag goes in front of it and both stay readable.
    const std::string tagged = MakeMp3(dir, "b.mp3");
    bw::TID3v1 v1;
    v1.SetTitle("v1 title");
    ASSERT_TRUE(v1.Save(tagged));
    ASSERT_TRUE(ape.Save(tagged));
    m = ParseLines(Python(readApe, {tagged}), '\t');
    EXPECT_EQ(m.at("Title"), kCyrillic);
    EXPECT_EQ(MutagenID3(tagged).at("TIT2"), "v1 title");
}

TEST(TagRoundTrip, MutagenVersion23UTF16IsRead) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    Python(R"(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TRCK, TYER, TCON, COMM, TCOM
t = ID3()
t.add(TIT2(encoding=1, text=sys.argv[2]))
t.add(TPE1(encoding=1, text=sys.argv[3]))
t.add(TALB(encoding=0, text=sys.argv[4]))
t.add(TRCK(encoding=0, text="3/12"))
t.add(TYER(encoding=0, text="1999"))
t.add(TCON(encoding=0, text="(17)Rock"))
t.add(COMM(encoding=1, lang="eng", desc="d", text=sys.argv[5]))
t.add(TCOM(encoding=1, text="Composer"))
t.save(sys.argv[1], v2_version=3)
)",
           {mp3, kCyrillic, kCjk, kCafe, kEmoji});
    bw::TID3v2 t;
    ASSERT_TRUE(t.Load(mp3));
    EXPECT_EQ(t.VersionID(), 3);
    EXPECT_EQ(t.Title(), kCyrillic);
    EXPECT_EQ(t.Artist(), kCjk);
    EXPECT_EQ(t.Album(), kCafe);
    EXPECT_EQ(t.Track(), 3);
    EXPECT_EQ(t.Year(), "1999");
    EXPECT_EQ(t.Genre(), "Rock");
    EXPECT_EQ(t.Comment(), kEmoji);
    EXPECT_EQ(t.Composer(), "Composer");
}

TEST(TagRoundTrip, MutagenVersion24UTF8WithCoverIsRead) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    Python(R"(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TDRC, TCOP, COMM, APIC
t = ID3()
t.add(TIT2(encoding=3, text=sys.argv[2]))
t.add(TPE1(encoding=3, text=sys.argv[3]))
t.add(TDRC(encoding=3, text="2021-04-05"))
# Frames of several hundred bytes: their sync-safe sizes differ from plain ones.
t.add(TCOP(encoding=3, text="c" * 200))
t.add(COMM(encoding=3, lang="eng", desc="", text=sys.argv[4] * 40))
t.add(TALB(encoding=3, text="a" * 300))
t.add(APIC(encoding=3, mime="image/png", type=3, desc="cover", data=bytes(range(256)) * 1200))
t.save(sys.argv[1], v2_version=4)
)",
           {mp3, kEmoji, kCyrillic, "x"});
    bw::TID3v2 t;
    ASSERT_TRUE(t.Load(mp3));
    EXPECT_EQ(t.VersionID(), 4);
    EXPECT_GT(t.Size(), 300000);
    EXPECT_EQ(t.Title(), kEmoji);
    EXPECT_EQ(t.Artist(), kCyrillic);
    EXPECT_EQ(t.Year(), "2021");
    EXPECT_EQ(t.Copyright(), std::string(200, 'c'));
    EXPECT_EQ(t.Comment(), std::string(40, 'x'));
    EXPECT_EQ(t.Album(), std::string(300, 'a'));

    // Saving over it: the big tag is replaced by a 4096-byte one and the audio is intact.
    t.SetTitle("Replaced");
    ASSERT_TRUE(t.Save(mp3));
    EXPECT_EQ(FfmpegDecode(mp3), FfmpegDecode(MakeMp3(dir, "plain.mp3")));
    EXPECT_EQ(MutagenID3(mp3).at("TIT2"), "Replaced");
}

TEST(TagRoundTrip, FfmpegVersion24IsRead) {
    TTempDir dir;
    const std::string mp3 = dir.File("a.mp3");
    MakeTone(mp3, 0.3, 44100, 2,
             {"-c:a", "libmp3lame", "-metadata", "title=" + kCyrillic, "-metadata", "artist=" + kCafe,
              "-metadata", "track=4/10", "-metadata", "date=2003"});
    bw::TID3v2 t;
    ASSERT_TRUE(t.Load(mp3));
    EXPECT_EQ(t.VersionID(), 4);
    EXPECT_EQ(t.Title(), kCyrillic);
    EXPECT_EQ(t.Artist(), kCafe);
    EXPECT_EQ(t.Track(), 4);
    EXPECT_EQ(t.Year(), "2003");
}

TEST(TagRoundTrip, ByteBuiltVersion22AgreesWithMutagen) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    auto frame = [](std::string id, std::string content) {
        const auto n = static_cast<uint32_t>(content.size());
        return id + static_cast<char>(n >> 16) + static_cast<char>(n >> 8) + static_cast<char>(n) + content;
    };
    const std::string body = frame("TT2", std::string("\1\xFF\xFE\x1F\x04\x40\x04", 7)) + // "Пр" in UTF-16
                             frame("TP1", std::string("\0Caf\xE9", 5)) + frame("TRK", std::string("\0" "9", 2)) +
                             frame("TCO", std::string("\0(13)", 5)) + std::string(40, '\0');
    WriteText(mp3, "ID3" + std::string("\2\0\0", 3) + SyncSafe32(static_cast<uint32_t>(body.size())) + body +
                       ReadText(mp3));
    const TTags m = MutagenID3(mp3);
    bw::TID3v2 t;
    ASSERT_TRUE(t.Load(mp3));
    EXPECT_EQ(t.VersionID(), 2);
    EXPECT_EQ(m.at("version"), "2.2");
    EXPECT_EQ(t.Title(), "\xD0\x9F\xD1\x80");
    EXPECT_EQ(m.at("TIT2"), t.Title()); // mutagen shows 2.2 frames under their 2.3 names
    EXPECT_EQ(t.Artist(), kCafe);
    EXPECT_EQ(m.at("TPE1"), t.Artist());
    EXPECT_EQ(t.Track(), 9);
    EXPECT_EQ(t.Genre(), "");
}

TEST(TagRoundTrip, MutagenID3v11AndAPEv2AreRead) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    // An APEv2 tag from mutagen, then an ID3v1.1 record behind it (mutagen writes it with an
    // ID3v2 tag, which is removed again).
    Python(R"(
import sys
from mutagen.id3 import ID3, TIT2, TPE1, TALB, TDRC, TRCK, TCON
from mutagen.apev2 import APEv2
a = APEv2()
a["Title"] = sys.argv[2]
a["Artist"] = "Band"
a["Year"] = "2010"
a.save(sys.argv[1])
t = ID3()
t.add(TIT2(encoding=0, text="Old Title"))
t.add(TPE1(encoding=0, text="Old Artist"))
t.add(TALB(encoding=0, text="Old Album"))
t.add(TDRC(encoding=0, text="1987"))
t.add(TRCK(encoding=0, text="11"))
t.add(TCON(encoding=0, text="Jazz"))
t.save(sys.argv[1], v1=2)
ID3(sys.argv[1]).delete(delete_v1=False, delete_v2=True)
)",
           {mp3, kCyrillic});
    bw::TID3v1 v1;
    ASSERT_TRUE(v1.Load(mp3));
    EXPECT_TRUE(v1.Present());
    EXPECT_EQ(v1.Revision(), 2);
    EXPECT_EQ(v1.Title(), "Old Title");
    EXPECT_EQ(v1.Artist(), "Old Artist");
    EXPECT_EQ(v1.Album(), "Old Album");
    EXPECT_EQ(v1.Year(), "1987");
    EXPECT_EQ(v1.Track(), 11);
    EXPECT_EQ(bw::GenreList().Name(v1.GenreIndex()), "Jazz");

    bw::TAPETag ape;
    ASSERT_TRUE(ape.Load(mp3));
    EXPECT_TRUE(ape.Present());
    EXPECT_EQ(ape.Version(), 2000);
    EXPECT_EQ(ape.GetItem("TITLE"), kCyrillic);
    EXPECT_EQ(ape.GetItem("Artist"), "Band");
    EXPECT_EQ(ape.GetItem("Year"), "2010");

    // Replacing the APE tag keeps the record behind it, which mutagen still reads.
    const std::string record = ReadText(mp3).substr(ReadText(mp3).size() - 128);
    bw::TAPETag fresh;
    fresh.AddItem("Title", "New");
    ASSERT_TRUE(fresh.Save(mp3));
    const std::string file = ReadText(mp3);
    EXPECT_EQ(file.substr(file.size() - 128), record);
    EXPECT_EQ(MutagenID3(mp3).at("TIT2"), "Old Title");
    EXPECT_EQ(ParseLines(Python("import sys\nfrom mutagen.apev2 import APEv2\nprint('Title\\t' + str(APEv2(sys.argv[1])['Title']))",
                                {mp3}),
                         '\t')
                  .at("Title"),
              "New");
}

} // namespace
