#include "tags/apetag.h"
#include "tags/tagsource.h"
#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

using bw::TAPETag;
using bw::TMemorySource;
using namespace bwtest;

namespace {

std::string Item(std::string_view name, std::string_view value, uint32_t length = UINT32_MAX) {
    return LE32(length == UINT32_MAX ? static_cast<uint32_t>(value.size()) : length) + LE32(0) +
           std::string(name) + '\0' + std::string(value);
}
std::string Footer(int version, std::string_view items, uint32_t count, uint32_t flags, uint32_t size = 0) {
    return "APETAGEX" + LE32(static_cast<uint32_t>(version)) +
           LE32(size ? size : static_cast<uint32_t>(items.size() + 32)) + LE32(count) + LE32(flags) +
           std::string(8, '\0');
}
// Header, items and footer the way version 2.0 writers lay them out.
std::string Tag2(std::string_view items, uint32_t count) {
    return Footer(2000, items, count, 0xA0000000u) + std::string(items) + Footer(2000, items, count, 0x80000000u);
}
std::string ID3v1Record() {
    std::string r(128, '\0');
    r.replace(0, 3, "TAG");
    r.replace(3, 9, "v1 record");
    return r;
}

TAPETag LoadBytes(std::string_view bytes) {
    TAPETag t;
    TMemorySource src(Span(bytes));
    EXPECT_TRUE(t.Load(src));
    return t;
}

} // namespace

TEST(APETagRead, FooterProbe) {
    TAPETag t;
    TMemorySource tooShort(Span(std::string(32, 'x')));
    EXPECT_FALSE(t.Load(tooShort));
    EXPECT_FALSE(t.Load("/nonexistent/file.ape"));
    t = LoadBytes(std::string(100, 'a'));
    EXPECT_FALSE(t.Present());

    const std::string items = Item("Title", "Song") + Item("Artist", "  Band \n");
    t = LoadBytes("audio" + Tag2(items, 2) + ID3v1Record());
    EXPECT_TRUE(t.Present());
    EXPECT_EQ(t.Version(), 2000);
    EXPECT_EQ(t.Size(), static_cast<int>(items.size() + 32));
    ASSERT_EQ(t.Items().size(), 2u);
    EXPECT_EQ(t.Items()[0], TAPETag::TItem("Title", "Song"));
    EXPECT_EQ(t.Items()[1], TAPETag::TItem("Artist", "Band"));
    EXPECT_EQ(t.GetItem("title"), "Song");
    EXPECT_EQ(t.GetItem("ARTIST"), "Band");
    EXPECT_EQ(t.GetItem("Album"), "");

    // Version 1.0: no header.
    t = LoadBytes("audio" + items + Footer(1000, items, 2, 0));
    EXPECT_EQ(t.Version(), 1000);
    EXPECT_EQ(t.GetItem("Title"), "Song");
}

TEST(APETagRead, ValuesAreCutTo250BytesAndKeptUTF8) {
    std::string utf8 = "a";
    for (int i = 0; i < 200; ++i)
        utf8 += "\xC3\xA9";
    const std::string items = Item("Comment", std::string(300, 'c')) + Item("Title", utf8) +
                              Item("Artist", "Caf\xE9") + Item("Album", "\xF0\x9F\x8E\xB5");
    TAPETag t = LoadBytes(Tag2(items, 4));
    EXPECT_EQ(t.GetItem("Comment"), std::string(250, 'c'));
    EXPECT_EQ(t.GetItem("Title"), utf8.substr(0, 249)); // the cut character is dropped whole
    EXPECT_EQ(t.GetItem("Artist"), "Caf\xC3\xA9");      // an ISO-8859-1 writer's value
    EXPECT_EQ(t.GetItem("Album"), "\xF0\x9F\x8E\xB5");
}

TEST(APETagRead, DuplicateNamesGiveTheFirst) {
    TAPETag t = LoadBytes(Tag2(Item("Title", "First") + Item("TITLE", "Second"), 2));
    EXPECT_EQ(t.GetItem("Title"), "First");
    t.AddItem("Title", "Added");
    EXPECT_EQ(t.GetItem("Title"), "First");
    EXPECT_EQ(t.Items().size(), 3u);
}

TEST(APETagRead, HostileTagsGivePartialResults) {
    const std::string good = Item("Title", "Song");
    // A count of millions over a short item area: only what is there is read.
    TAPETag t = LoadBytes(Tag2(good, 4000000000u));
    EXPECT_EQ(t.Items().size(), 1u);
    // A name without its terminator ends the walk.
    const std::string unterminated = good + LE32(3) + LE32(0) + std::string(300, 'N');
    t = LoadBytes(Tag2(unterminated, 2));
    EXPECT_EQ(t.Items().size(), 1u);
    // A value length past the footer ends the walk.
    t = LoadBytes(Tag2(good + Item("Artist", "x", 0xFFFFFFF0u), 2));
    EXPECT_EQ(t.Items().size(), 1u);
    // A tag size larger than the file: present, with no items.
    t = LoadBytes("audio" + good + Footer(2000, good, 1, 0, 0x7FFFFFFF));
    EXPECT_TRUE(t.Present());
    EXPECT_TRUE(t.Items().empty());
}

TEST(APETagRead, EveryTruncationIsHandled) {
    const std::string tagged = "audio" + Tag2(Item("Title", "Song") + Item("Artist", "Band"), 2);
    const std::string file = tagged + ID3v1Record();
    for (size_t n = 0; n < file.size(); ++n) {
        TAPETag t;
        TMemorySource src(Span(std::string_view(file).substr(0, n)));
        t.Load(src);
        // Only the cut that removes exactly the ID3v1 record leaves a whole tag at the end.
        EXPECT_EQ(t.Items().size(), n == tagged.size() ? 2u : 0u) << n;
    }
}

TEST(APETagWrite, ReplacesTheTagAndKeepsTheID3v1Record) {
    TTempDir dir;
    const std::string path = dir.File("a.ape");
    const std::string audio = ReadText(MakeMp3(dir, "tone.mp3"));
    WriteText(path, audio + Tag2(Item("Title", "Old title") + Item("Album", "Old album"), 2) + ID3v1Record());
    TAPETag t;
    ASSERT_TRUE(t.Load(path));
    TAPETag fresh;
    fresh.AddItem("Title", "New \xD0\x96");
    fresh.AddItem("Track", "3");
    ASSERT_TRUE(fresh.Save(path)) << fresh.LastError();
    const std::string file = ReadText(path);
    EXPECT_TRUE(file.substr(0, audio.size()) == audio);
    EXPECT_EQ(file.substr(file.size() - 128), ID3v1Record());
    EXPECT_EQ(file.substr(audio.size()), fresh.BuildTag() + ID3v1Record());
    TAPETag back;
    ASSERT_TRUE(back.Load(path));
    ASSERT_EQ(back.Items().size(), 2u);
    EXPECT_EQ(back.GetItem("Title"), "New \xD0\x96");
    EXPECT_EQ(back.GetItem("Album"), "");
    EXPECT_EQ(back.Version(), 2000);
}

TEST(APETagWrite, LayoutOfAWrittenTag) {
    TAPETag t;
    for (const char* name : {"Title", "Artist", "Album", "Track", "Year", "Genre", "Comment"})
        t.AddItem(name, "");
    const std::string tag = t.BuildTag();
    const uint32_t names = 5 + 6 + 5 + 5 + 4 + 5 + 7;
    EXPECT_EQ(tag.substr(0, 32), "APETAGEX" + LE32(2000) + LE32(32 + names + 63) + LE32(7) + LE32(0xA0000000u) +
                                     std::string(8, '\0'));
    EXPECT_EQ(tag.substr(tag.size() - 32), "APETAGEX" + LE32(2000) + LE32(32 + names + 63) + LE32(7) +
                                               LE32(0x80000000u) + std::string(8, '\0'));
    EXPECT_EQ(tag.substr(32, 14), LE32(0) + LE32(0) + std::string("Title\0", 6));
}

TEST(APETagWrite, AddingToAFileWithoutTag) {
    TTempDir dir;
    const std::string path = dir.File("a.mp3");
    const std::string audio = ReadText(MakeMp3(dir, "tone.mp3"));
    // With an ID3v1 record the new tag goes in front of it, so the record still ends the file.
    WriteText(path, audio + ID3v1Record());
    TAPETag t;
    ASSERT_TRUE(t.Load(path));
    EXPECT_FALSE(t.Present());
    t.AddItem("Title", "x");
    ASSERT_TRUE(t.Save(path));
    EXPECT_EQ(ReadText(path), audio + t.BuildTag() + ID3v1Record());
    // Without one it is appended.
    WriteText(path, audio);
    ASSERT_TRUE(t.Save(path));
    EXPECT_EQ(ReadText(path), audio + t.BuildTag());
    EXPECT_EQ(FfmpegDecode(path), FfmpegDecode(dir.File("tone.mp3")));
}

TEST(APETagWrite, HeaderlessTagIsRemovedWithoutTouchingTheAudio) {
    TTempDir dir;
    const std::string path = dir.File("a.ape");
    const std::string audio(1000, 'a');
    const std::string items = Item("Title", "Old");
    WriteText(path, audio + items + Footer(1000, items, 1, 0));
    TAPETag t;
    t.AddItem("Title", "New");
    ASSERT_TRUE(t.Save(path));
    EXPECT_EQ(ReadText(path), audio + t.BuildTag());
}

TEST(APETagWrite, FailuresLeaveTheFileAsItWas) {
    TTempDir dir;
    const std::string path = dir.File("a.ape");
    const std::string before = std::string(1000, 'a') + Tag2(Item("Title", "Old"), 1) + ID3v1Record();
    WriteText(path, before);
    const int status = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size(), before.size()};
        setrlimit(RLIMIT_FSIZE, &limit);
        TAPETag t;
        t.AddItem("Title", std::string(5000, 'n'));
        return t.Save(path) ? 0 : 7;
    });
    EXPECT_EQ(status, 7);
    EXPECT_EQ(ReadText(path), before);

    // A footer whose size points before the start of the file: nothing is cut.
    const std::string damaged = std::string(100, 'a') + Footer(2000, "", 0, 0x80000000u, 5000);
    WriteText(path, damaged);
    TAPETag t;
    t.AddItem("Title", "x");
    EXPECT_FALSE(t.Save(path));
    EXPECT_FALSE(t.LastError().empty());
    EXPECT_EQ(ReadText(path), damaged);
    EXPECT_FALSE(t.Save(dir.File("missing.ape")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing.ape")));
}
