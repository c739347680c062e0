#include "core/genrelist.h"
#include "tags/id3v1.h"
#include "tags/tagsource.h"
#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using bw::TID3v1;
using bw::TMemorySource;
using namespace bwtest;

namespace {

// A 128-byte record with the given fields, byte for byte.
std::string Record(std::string_view title, std::string_view comment30, char b125, char b126, char genre) {
    std::string r(128, '\0');
    r.replace(0, 3, "TAG");
    r.replace(3, title.size(), title);
    r.replace(33, 6, "Artist");
    r.replace(63, 5, "Album");
    r.replace(93, 4, "1999");
    r.replace(97, comment30.size(), comment30);
    r[125] = b125;
    r[126] = b126;
    r[127] = genre;
    return r;
}

std::string LyricsField(std::string_view id, std::string_view content) {
    std::string len = std::to_string(content.size());
    return std::string(id) + std::string(5 - len.size(), '0') + len + std::string(content);
}

std::string LyricsBlock(std::string_view fields) {
    std::string body = "LYRICSBEGIN" + std::string(fields);
    std::string len = std::to_string(body.size());
    return body + std::string(6 - len.size(), '0') + len + "LYRICS200";
}

TID3v1 LoadBytes(std::string_view bytes) {
    TID3v1 t;
    TMemorySource src(Span(bytes));
    t.Load(src);
    return t;
}

} // namespace

TEST(ID3v1Read, ShortFileIsRefused) {
    TTempDir dir;
    WriteText(dir.File("short.mp3"), std::string(127, 'x'));
    TID3v1 t;
    EXPECT_FALSE(t.Load(dir.File("short.mp3")));
    EXPECT_FALSE(t.Present());
    EXPECT_FALSE(t.LastError().empty());
    EXPECT_FALSE(t.Load(dir.File("missing.mp3")));
}

TEST(ID3v1Read, RevisionFollowsBytes125And126) {
    // A space then a letter: revision 1.1 with the letter's code as track.
    TID3v1 t = LoadBytes("audio" + Record("Song", "Note", ' ', 'A', 17));
    EXPECT_TRUE(t.Present());
    EXPECT_EQ(t.Revision(), 2);
    EXPECT_EQ(t.Track(), 'A');
    EXPECT_EQ(t.Title(), "Song");
    EXPECT_EQ(t.Artist(), "Artist");
    EXPECT_EQ(t.Album(), "Album");
    EXPECT_EQ(t.Year(), "1999");
    EXPECT_EQ(t.GenreIndex(), 17);

    t = LoadBytes(Record("Song", "", 0, 7, 0));
    EXPECT_EQ(t.Revision(), 2);
    EXPECT_EQ(t.Track(), 7);

    // Zero and zero, or two spaces: revision 1.0 with a 30-byte comment and no track.
    const std::string comment30 = "123456789012345678901234567890";
    t = LoadBytes(Record("Song", comment30, 0, 0, 0));
    EXPECT_EQ(t.Revision(), 1);
    EXPECT_EQ(t.Track(), 0);
    t = LoadBytes(Record("Song", std::string(28, 'c') + "  ", ' ', ' ', 0));
    EXPECT_EQ(t.Revision(), 1);
    EXPECT_EQ(t.Comment(), std::string(28, 'c'));
    t = LoadBytes(Record("Song", comment30, comment30[28], comment30[29], 0));
    EXPECT_EQ(t.Comment(), comment30);
}

TEST(ID3v1Read, TextIsISO88591) {
    TID3v1 t = LoadBytes(Record("Caf\xE9 \xBD", "", 0, 0, 0));
    EXPECT_EQ(t.Title(), "Caf\xC3\xA9 \xC2\xBD");
}

TEST(ID3v1Read, Lyrics3FieldsFillTheLongValues) {
    const std::string longTitle = "A title that is clearly longer than thirty bytes";
    const std::string fields = LyricsField("IND", "10") + LyricsField("ETT", "  " + longTitle + " ") +
                               LyricsField("AUT", "Writer") + LyricsField("LYR", "one\rtwo\r\nthree\r\n\nfour") +
                               LyricsField("IMG", " pic.jpg ");
    const std::string block = LyricsBlock(fields);
    TID3v1 t = LoadBytes("audio" + block + Record("A title that is clearly longer", "", 0, 0, 1));
    EXPECT_TRUE(t.LyricsPresent());
    EXPECT_EQ(t.LyricsSize(), static_cast<int>(block.size()) - 15);
    EXPECT_EQ(t.LyricsBlockSize(), static_cast<int>(block.size()));
    EXPECT_EQ(t.TotalSize(), static_cast<int>(block.size()) + 128);
    EXPECT_EQ(t.Title(), longTitle);
    EXPECT_EQ(t.ExtTitle(), longTitle);
    EXPECT_EQ(t.Author(), "Writer");
    // CR becomes CR LF and a doubled LF after it is dropped once.
    EXPECT_EQ(t.Lyrics(), "one\r\ntwo\r\nthree\r\n\nfour");
    EXPECT_EQ(t.Image(), " pic.jpg ");

    // Without an ID3v1 record the block ends the file.
    t = LoadBytes(std::string(200, 'a') + block);
    EXPECT_FALSE(t.Present());
    EXPECT_TRUE(t.LyricsPresent());
    EXPECT_EQ(t.Author(), "Writer");
}

TEST(ID3v1Read, DamagedLyrics3BlocksAreIgnoredOrCut) {
    // A trailer without its start marker, or one stating more bytes than the file has.
    for (const std::string trailer : {"000050LYRICS200", "999999LYRICS200", "00x050LYRICS200"}) {
        TID3v1 t = LoadBytes(std::string(300, 'a') + trailer + Record("T", "", 0, 0, 0));
        EXPECT_TRUE(t.Present()) << trailer;
        EXPECT_FALSE(t.LyricsPresent()) << trailer;
        EXPECT_EQ(t.LyricsSize(), 0) << trailer;
    }
    // A field whose length runs past the block ends the walk; fields before it stay.
    const std::string fields = LyricsField("AUT", "Writer") + "LYR99999abc";
    TID3v1 t = LoadBytes("audio" + LyricsBlock(fields) + Record("T", "", 0, 0, 0));
    EXPECT_TRUE(t.LyricsPresent());
    EXPECT_EQ(t.Author(), "Writer");
    EXPECT_TRUE(t.Lyrics().empty());
}

TEST(ID3v1Read, EveryTruncationIsHandled) {
    const std::string file = std::string(64, 'a') + LyricsBlock(LyricsField("AUT", "Writer") + LyricsField("LYR", "la")) +
                             Record("Song", "", 0, 3, 2);
    for (size_t n = 0; n < file.size(); ++n) {
        TID3v1 t;
        TMemorySource src(Span(std::string_view(file).substr(0, n)));
        EXPECT_EQ(t.Load(src), n >= 128) << n;
        EXPECT_FALSE(t.Present()) << n;
    }
}

TEST(ID3v1Fields, SettersTrimAndKeepLongValues) {
    TID3v1 t;
    t.SetTitle("Short \t\n");
    EXPECT_EQ(t.Title(), "Short");
    EXPECT_TRUE(t.ExtTitle().empty());
    const std::string thirtyOne(31, 'x');
    t.SetTitle(thirtyOne);
    EXPECT_EQ(t.ExtTitle(), thirtyOne);
    t.SetTitle(std::string(30, 'y'));
    EXPECT_TRUE(t.ExtTitle().empty());
    // Thirty Cyrillic letters are sixty UTF-8 bytes but thirty characters: no long value.
    std::string cyrillic;
    for (int i = 0; i < 30; ++i)
        cyrillic += "\xD0\x96";
    t.SetArtist(cyrillic);
    EXPECT_TRUE(t.ExtArtist().empty());
    t.SetYear("20245  ");
    EXPECT_EQ(t.Year(), "2024");
}

TEST(ID3v1Write, RecordLayoutFollowsTrack) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    const std::string audio = ReadText(mp3);
    TID3v1 t;
    t.SetTitle("Title");
    t.SetComment(std::string(30, 'c'));
    t.SetYear("2001");
    t.SetGenreIndex(255);
    ASSERT_TRUE(t.Save(mp3)) << t.LastError();
    EXPECT_TRUE(t.Present());
    std::string file = ReadText(mp3);
    ASSERT_EQ(file.size(), audio.size() + 128);
    EXPECT_TRUE(file.substr(0, audio.size()) == audio);
    std::string rec = file.substr(audio.size());
    EXPECT_EQ(rec.substr(97, 30), std::string(30, 'c')); // revision 1.0: 30-byte comment
    EXPECT_EQ(static_cast<uint8_t>(rec[127]), 255);
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.GenreIndex(), 255);
    EXPECT_EQ(bw::GenreList().Name(back.GenreIndex()), "Other");
    EXPECT_EQ(back.Revision(), 1);

    t.SetTrack(5);
    ASSERT_TRUE(t.Save(mp3));
    file = ReadText(mp3);
    ASSERT_EQ(file.size(), audio.size() + 128);
    rec = file.substr(audio.size());
    EXPECT_EQ(rec.substr(97, 30), std::string(28, 'c') + '\0' + '\5');
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.Revision(), 2);
    EXPECT_EQ(back.Track(), 5);
    EXPECT_EQ(back.Comment(), std::string(28, 'c'));
    EXPECT_EQ(FfmpegDecode(mp3), FfmpegDecode(dir.File("a.mp3")));
}

TEST(ID3v1Write, LongTitleNeedsLyrics3) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    const size_t audio = ReadText(mp3).size();
    const std::string title40 = "0123456789012345678901234567890123456789";
    TID3v1 t;
    t.SetTitle(title40);
    ASSERT_TRUE(t.Save(mp3));
    EXPECT_EQ(ReadText(mp3).size(), audio + 128);
    EXPECT_FALSE(t.LyricsPresent());
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.Title(), title40.substr(0, 30));

    t.SetAuthor("Someone");
    ASSERT_TRUE(t.Save(mp3));
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_TRUE(back.LyricsPresent());
    EXPECT_EQ(back.Title(), title40);
    EXPECT_EQ(back.Author(), "Someone");
    const std::string file = ReadText(mp3);
    EXPECT_NE(file.find("LYRICSBEGININD0000200ETT00040" + title40 + "AUT00007Someone"), std::string::npos);
    EXPECT_EQ(file.size(), audio + back.TotalSize());
}

TEST(ID3v1Write, SavingTwiceKeepsOneOfEach) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    const size_t audio = ReadText(mp3).size();
    TID3v1 t;
    t.SetTitle("A title long enough to need the Lyrics3 block");
    t.SetLyrics("la la\r\nla");
    ASSERT_TRUE(t.Save(mp3));
    t.SetArtist("Another artist");
    ASSERT_TRUE(t.Save(mp3));
    const std::string file = ReadText(mp3);
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(file.size(), audio + back.TotalSize());
    EXPECT_EQ(file.find("LYRICSBEGIN"), file.rfind("LYRICSBEGIN"));
    EXPECT_EQ(file.find("LYRICSBEGIN"), audio);
    EXPECT_EQ(back.Artist(), "Another artist");
    EXPECT_EQ(back.Lyrics(), "la la\r\nla");
    EXPECT_NE(file.find("IND0000210"), std::string::npos);
}

TEST(ID3v1Write, AppendBlocksAlwaysAppends) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    const size_t audio = ReadText(mp3).size();
    TID3v1 t;
    t.SetTitle("x");
    ASSERT_TRUE(t.AppendBlocks(mp3, true));
    ASSERT_TRUE(t.AppendBlocks(mp3, true));
    EXPECT_EQ(ReadText(mp3).size(), audio + 256);
}

TEST(ID3v1Write, StripKeepsAudioAndIgnoresAnUnmarkedTrailer) {
    TTempDir dir;
    const std::string path = dir.File("a.mp3");
    const std::string audio = std::string(500, 'a') + "000050LYRICS200";
    WriteText(path, audio + Record("T", "", 0, 0, 0));
    TID3v1 t;
    ASSERT_TRUE(t.Strip(path));
    EXPECT_EQ(ReadText(path), audio);
    EXPECT_FALSE(t.Present());
    ASSERT_TRUE(t.Strip(path)); // nothing left to strip
    EXPECT_EQ(ReadText(path), audio);

    const std::string withLyrics = std::string(500, 'a') + LyricsBlock(LyricsField("AUT", "W"));
    WriteText(path, withLyrics + Record("T", "", 0, 0, 0));
    ASSERT_TRUE(t.Strip(path));
    EXPECT_EQ(ReadText(path), std::string(500, 'a'));
}

TEST(ID3v1Write, ReadOnlyFileIsMadeWritable) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    ASSERT_EQ(chmod(mp3.c_str(), 0444), 0);
    TID3v1 t;
    t.SetTitle("x");
    ASSERT_TRUE(t.Save(mp3)) << t.LastError();
    struct stat st{};
    ASSERT_EQ(stat(mp3.c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IWUSR);
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.Title(), "x");
}

TEST(ID3v1Write, CharactersOutsideISO88591BecomeQuestionMarks) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    TID3v1 t;
    t.SetTitle("Caf\xC3\xA9 \xD0\x9C\xD0\xB8\xD1\x80 \xF0\x9F\x8E\xB5"); // Café Мир 🎵
    ASSERT_TRUE(t.Save(mp3));
    const std::string file = ReadText(mp3);
    EXPECT_EQ(file.substr(file.size() - 128 + 3, 13), std::string("Caf\xE9 ??? ?\0\0", 13));
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.Title(), "Caf\xC3\xA9 ??? ?");
}

TEST(ID3v1Write, OverlongLyrics3FieldIsCut) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    TID3v1 t;
    t.SetLyrics(std::string(120000, 'l'));
    ASSERT_TRUE(t.Save(mp3));
    TID3v1 back;
    ASSERT_TRUE(back.Load(mp3));
    EXPECT_EQ(back.Lyrics().size(), 99999u);
}

TEST(ID3v1Write, FailedWriteLeavesTheFileAsItWas) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    TID3v1 old;
    old.SetTitle("Old title");
    old.SetAuthor("Old author");
    ASSERT_TRUE(old.Save(mp3));
    const std::string before = ReadText(mp3);
    // The file may not grow: the new, longer blocks cannot be written, like on a full disk.
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size(), before.size()};
        setrlimit(RLIMIT_FSIZE, &limit);
        TID3v1 t;
        t.SetTitle("New title");
        t.SetLyrics(std::string(5000, 'l'));
        return t.Save(mp3) ? 0 : 7;
    });
    EXPECT_EQ(status, 7);
    EXPECT_TRUE(ReadText(mp3) == before);

    TID3v1 t;
    EXPECT_FALSE(t.Save(dir.File("missing.mp3")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing.mp3")));
}
