// Disc lookups of a generated disc image against a CDDB server on 127.0.0.1, run by the
// widget-free driver the lookup window shows, and the disc data given to the CD tracks.

#include "cd/cddb.h"
#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "cd/localcddb.h"
#include "common/controlchars.h"
#include "support/cdimages.h"
#include "shell/disclookup.h"
#include "support/cddbserver.h"
#include "support/testsupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

using namespace bw;
using bwtest::TCddbReply;
using bwtest::TCddbServer;

namespace {

std::vector<std::string> Record(const std::string& dtitle, const std::vector<std::string>& titles) {
    std::vector<std::string> l{"210 rock 0b01c402 CD database entry follows", "# xmcd", "#",
                               "# Track frame offsets:", "#\t150", "#\t10150", "#",
                               "# Disc length: 454 seconds", "#", "# Revision: 3", "DISCID=0b01c402",
                               "DTITLE=" + dtitle, "DYEAR=1999", "DGENRE=rock"};
    for (size_t i = 0; i < titles.size(); ++i)
        l.push_back("TTITLE" + std::to_string(i) + "=" + titles[i]);
    l.insert(l.end(), {"EXTD=", "EXTT0=", "PLAYORDER=", "."});
    return l;
}

TCddbReply Lines(const std::vector<std::string>& lines) { return {TCddbReply::TMode::Answer, 200, bwtest::CddbLines(lines)}; }

// A two-track disc image, a drive list holding it, and a client looking it up.
struct TLookupFixture {
    TLookupFixture() : Cddb(Drives) {
        bwtest::CoreApp();
        Image = bwtest::MakeImage(Dir.Path().string(), "disc", {{0.5}, {0.7}});
        EXPECT_EQ(Drives.AddImage(Image.Sheet), 0);
        Settings = DefaultAppSettings();
        Settings.FreeDBEmail = "me@home";
        Settings.Timeout = 3;
    }
    TLookupEnd Run(TCddbServer& server) { return Run(server.Address()); }
    TLookupEnd Run(const std::string& address) {
        Settings.FreeDBServer = address;
        return LookUpDisc(Cddb, Drives, 0, Settings, [this](const std::string& s) { Status.push_back(s); });
    }
    bool Said(const std::string& s) const { return std::find(Status.begin(), Status.end(), s) != Status.end(); }

    bwtest::TTempDir Dir;
    bwtest::TTestImage Image;
    TCdDriveList Drives;
    TCddb Cddb;
    TAppSettings Settings;
    std::vector<std::string> Status;
};

} // namespace

TEST(DiscLookup, ExactMatchIsReadAndApplied) {
    TLookupFixture f;
    TCddbServer server([](const std::string& t) {
        if (t.find("cddb+query") != std::string::npos)
            return Lines({"200 rock 7a0b1c0d Some Artist / Some Title"});
        return Lines(Record("Some Artist / Some Title", {"Пролог", "夜明けの歌"}));
    });
    EXPECT_EQ(f.Run(server), TLookupEnd::Ended);
    EXPECT_EQ(f.Cddb.LookupState(), TLookupState::EntryRead);
    const std::string id = f.Cddb.DiscInfo().DiscId; // from the image again, lower case
    ASSERT_EQ(server.Requests().size(), 2u);
    // The transport writes "%2E" as the "." it stands for; the rest arrives as built.
    EXPECT_EQ(server.Requests()[0], "/~cddb/cddb.cgi?cmd=" + UrlEncode(BuildQueryCommand(f.Cddb.DiscInfo().Toc)) +
                                        "&hello=me+home+Brindlewave+0.001&proto=6");
    std::string upper = id;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(server.Requests()[1], "/~cddb/cddb.cgi?cmd=cddb+read+rock+" + upper +
                                        "&hello=me+home+Brindlewave+0.001&proto=6");
    EXPECT_EQ(id, [&] { char b[9]; std::snprintf(b, 9, "%08x", ComputeDiscId(f.Cddb.DiscInfo().Toc)); return std::string(b); }());
    EXPECT_EQ(f.Status, (std::vector<std::string>{"Querying CD", "Found exact match", "Reading CD info",
                                                    "OK, CDDB database entry follows", "Entry read"}));

    // The tracks get the disc's texts and names from the pattern.
    std::vector<TCdTrack> tracks;
    ASSERT_TRUE(f.Drives.Tracks(0, tracks));
    auto items = CdTrackItems(tracks, 0, 0);
    EXPECT_TRUE(NameCdTrackItems(items, &f.Cddb, nullptr, f.Settings));
    EXPECT_EQ(items[0].SourcePath, "01 Some Artist Пролог");
    EXPECT_EQ(items[1].SourcePath, "02 Some Artist 夜明けの歌");
    EXPECT_EQ(items[1].Title, "夜明けの歌");
    EXPECT_EQ(items[1].Album, "Some Title");
    EXPECT_EQ(items[1].Year, "1999");
    EXPECT_EQ(items[1].Genre, "rock");
    EXPECT_EQ(items[1].GenreIndex, 17); // "Rock", whatever the letter case
    // With the lookup switched off since, the entry read before is not applied.
    f.Settings.TryLoadFreeDB = false;
    auto plain = CdTrackItems(tracks, 0, 0);
    EXPECT_FALSE(NameCdTrackItems(plain, &f.Cddb, nullptr, f.Settings));
    EXPECT_EQ(plain[0].SourcePath, "CD Track 1");
}

TEST(DiscLookup, SeveralMatchesReadTheFirst) {
    TLookupFixture f;
    TCddbServer server([](const std::string& t) {
        if (t.find("cddb+query") != std::string::npos)
            return Lines({"211 close matches", "r&b?x=1#f%\x01\t+y 1&2#3?4/ First / One", "rock 5678abcd Second / Two", "."});
        return Lines(Record("First / One", {"a", "b"}));
    });
    EXPECT_EQ(f.Run(server), TLookupEnd::Ended);
    EXPECT_EQ(f.Cddb.LookupState(), TLookupState::EntryRead);
    ASSERT_EQ(server.Requests().size(), 2u);
    // What the server answered is encoded: it can add no parameter, end the query or cut it.
    EXPECT_NE(server.Requests()[1].find("cmd=cddb+read+r%26b%3Fx%3D1%23f%25%01%09%2By+1%262%233%3F4%2F&hello="), std::string::npos);
    EXPECT_EQ(f.Cddb.DiscInfo().Artist, "First");
}

TEST(DiscLookup, FailedAnswersEndTheLookup) {
    struct TCase {
        std::string Name;
        TCddbReply Query, Read;
        int32_t State;
        std::string Said;
    };
    const std::vector<TCase> cases{
        {"no match", Lines({"202 No match"}), {}, TLookupState::QueryFailed, "No match found"},
        {"403", Lines({"403 corrupt"}), {}, TLookupState::QueryFailed, "Database entry is corrupt"},
        {"409", Lines({"409 No handshake"}), {}, TLookupState::QueryFailed, "No handshake"},
        {"401", Lines({"200 rock 0b01c402 A / B"}), Lines({"401 rock 0b01c402 No such CD entry"}),
         TLookupState::ReadFailed, "Specified CDDB entry not found"},
        // Only a 200 answer is a record: a redirect is neither followed (to a record) nor
        // read, and the server's reason phrase is quoted without its controls.
        {"302", {TCddbReply::TMode::Answer, 302, "200 rock 0b01c402 A / B\r\n", "Found\x1b[2J", "/r"},
         Lines(Record("A / B", {"a", "b"})), TLookupState::TransferFailed,
         "CDDB Component Internal Error: THttpCli.GetAsync failed because of error the server answered HTTP 302 Found\\x1B[2J\""},
        {"HTTP 500", {TCddbReply::TMode::Answer, 500, "oops"}, {}, TLookupState::TransferFailed, ""},
        // A body past 1 MB is refused rather than read to its end.
        {"flood", {TCddbReply::TMode::Flood, 200, {}}, {}, TLookupState::QueryFailed, "Database entry is corrupt"},
    };
    for (const auto& c : cases) {
        TLookupFixture f;
        TCddbServer server([&c](const std::string& t) { return t.find("cddb+query") != std::string::npos ? c.Query : c.Read; });
        EXPECT_EQ(f.Run(server), TLookupEnd::Ended) << c.Name;
        EXPECT_EQ(f.Cddb.LookupState(), c.State) << c.Name;
        if (!c.Said.empty()) {
            EXPECT_TRUE(f.Said(c.Said)) << c.Name;
        }
        EXPECT_LT(server.Flooded(), 32 << 20) << c.Name;
        std::vector<TCdTrack> tracks;
        ASSERT_TRUE(f.Drives.Tracks(0, tracks));
        auto items = CdTrackItems(tracks, 0, 0);
        EXPECT_FALSE(NameCdTrackItems(items, &f.Cddb, nullptr, f.Settings)) << c.Name;
    }
}

TEST(DiscLookup, TheDeadlineEndsWhatNeverEnds) {
    // A server that never answers, a query answered with an unknown code, and a read
    // without its closing line: the lookup ends at the deadline, the request aborted.
    for (const std::string name : {"hang", "500", "no dot"}) {
        TLookupFixture f;
        f.Settings.Timeout = 2;
        TCddbServer server([&name](const std::string& t) -> TCddbReply {
            if (name == "hang")
                return {TCddbReply::TMode::Hang, 200, {}};
            if (name == "500")
                return Lines({"500 Command syntax error"});
            if (t.find("cddb+query") != std::string::npos)
                return Lines({"200 rock 0b01c402 A / B"});
            auto r = Record("Kept / Lines", {"one", "two"});
            r.pop_back();
            return Lines(r);
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(f.Run(server), TLookupEnd::Deadline) << name;
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, std::chrono::milliseconds(1900)) << name;
        EXPECT_LT(took, std::chrono::milliseconds(4500)) << name;
        if (name == "no dot") {
            // The read stayed in its state, but what came was parsed.
            EXPECT_EQ(f.Cddb.LookupState(), TLookupState::ReadSent);
            EXPECT_EQ(f.Cddb.DiscInfo().Title, "Lines");
        } else {
            EXPECT_EQ(f.Cddb.LookupState(), name == "hang" ? TLookupState::TransferFailed : TLookupState::QuerySent);
        }
        if (name == "500") {
            EXPECT_TRUE(f.Said("Command syntax error, command unknown, command unimplemented"));
        }
    }
}

TEST(DiscLookup, RefusedConnectionAndStop) {
    TLookupFixture refused;
    EXPECT_EQ(refused.Run("127.0.0.1:" + std::to_string(TCddbServer::ClosedPort())), TLookupEnd::Ended);
    EXPECT_EQ(refused.Cddb.LookupState(), TLookupState::TransferFailed);
    ASSERT_FALSE(refused.Status.empty());
    EXPECT_EQ(refused.Status.back().rfind("CDDB Component Internal Error: THttpCli.GetAsync failed because of error ", 0), 0u);

    TLookupFixture f;
    TCddbServer server([](const std::string&) { return TCddbReply{TCddbReply::TMode::Hang, 200, {}}; });
    f.Settings.FreeDBServer = server.Address();
    TDiscLookup lookup(f.Cddb);
    f.Cddb.ReadDiscToc(0);
    SetUpCddb(f.Cddb, f.Settings);
    lookup.OnStatus = [&f](const std::string& s) { f.Status.push_back(s); };
    QTimer::singleShot(300, [&lookup] { lookup.Stop(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lookup.Run(30), TLookupEnd::Stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(f.Cddb.LookupState(), TLookupState::TransferFailed);
    EXPECT_EQ(f.Status.back(), "CDDB Component Internal Error: THttpCli.GetAsync failed because of error "
                               "Connection aborted on request\"");
}

TEST(DiscLookup, TheAnswerEndsTheLookupNotTheTick) {
    // The lookup ends on the event of the answer that settles it: nothing (no progress tick)
    // comes between the last status line and the end, for an entry read and for a refusal.
    struct TCase {
        TCddbReply Query;
        std::string Last;
    };
    const std::vector<TCase> cases{{Lines({"200 rock 0b01c402 A / B"}), "Entry read"},
                                   {Lines({"202 No match"}), "No match found"}};
    for (const auto& c : cases) {
        TLookupFixture f;
        TCddbServer server([&c](const std::string& t) {
            return t.find("cddb+query") != std::string::npos ? c.Query : Lines(Record("A / B", {"a", "b"}));
        });
        f.Settings.FreeDBServer = server.Address();
        f.Cddb.ReadDiscToc(0);
        SetUpCddb(f.Cddb, f.Settings);
        TDiscLookup lookup(f.Cddb);
        std::vector<std::string> events;
        lookup.OnStatus = [&events](const std::string& s) { events.push_back(s); };
        lookup.OnProgress = [&events](int position, int) { events.push_back("tick " + std::to_string(position)); };
        lookup.OnFinished = [&events](TLookupEnd) { events.push_back("end"); };
        EXPECT_EQ(lookup.Run(30), TLookupEnd::Ended) << c.Last;
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events.front(), "tick 0");
        EXPECT_EQ(events[events.size() - 2], c.Last);
        EXPECT_EQ(events.back(), "end");
    }
}

TEST(DiscLookup, HostileNamesBecomeSafeFileNames) {
    const std::string longName(300, 'n');
    TCDInfo info;
    info.Artist = "AC/DC";
    info.Title = "../../x";
    info.TrackTitles[0] = "../../x";
    info.TrackTitles[1] = longName;
    info.TrackTitles[2] = "\x01-rm\x7f";
    info.TrackTitles[3] = "Ünïcödé " + std::string(237, 'u') + "ж";
    TNamePattern titleOnly = TNamePattern::FromSettings(DefaultAppSettings());
    titleOnly.Used = {false, false, false, true, false, false, false};
    std::vector<TmyMusicFile> items;
    for (int t = 1; t <= 5; ++t)
        items.push_back(MakeCdTrackItem(t, 0, 0));
    for (auto& item : items)
        ApplyDiscData(item, item.Track - 1, info, titleOnly);
    EXPECT_EQ(items[0].SourcePath, "_.._x");
    EXPECT_EQ(items[0].Title, "../../x"); // the tags keep the text
    EXPECT_EQ(items[1].SourcePath, std::string(250, 'n'));
    EXPECT_EQ(items[2].SourcePath, "_-rm_");
    // Cut on a character boundary: "ж" (two bytes) would end past byte 250, the room
    // left for ".flac" within 255.
    EXPECT_EQ(items[3].SourcePath, "Ünïcödé " + std::string(237, 'u'));
    EXPECT_EQ(items[4].SourcePath, "Track 5");
    EXPECT_EQ(items[4].GenreIndex, 255);
    EXPECT_EQ(SafeFileNamePart(" .hidden", "Unknown Artist"), "hidden");
    EXPECT_EQ(SafeFileNamePart("..", "Unknown Album"), "Unknown Album");
    EXPECT_EQ(SafeFileNamePart("-x", "Unknown Album"), "-x");
}

TEST(DiscLookup, EveryAsciiByteInFatNamesAndQuotedTexts) {
    // Each byte inside a name, where the end rule does not reach it: what FAT refuses and
    // every control character become "_"; a message quotes the controls as \xNN.
    for (int b = 0; b < 0x80; ++b) {
        const char c = static_cast<char>(b);
        const bool control = b < 0x20 || b == 0x7F;
        const std::string name = std::string("a") + c + "b";
        const bool fatRefuses = std::string_view(":?*\"<>|\\").find(c) != std::string_view::npos;
        EXPECT_EQ(FatSafeName(name), std::string("a") + (control || fatRefuses ? '_' : c) + "b") << b;
        const std::string hex{'\\', 'x', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
        EXPECT_EQ(ControlCharsEscaped(name), "a" + (control ? hex : std::string(1, c)) + "b") << b;
    }
    EXPECT_EQ(ControlCharsEscaped("J\xc3\xb3ga\r\n\x1b[2J"), "J\xc3\xb3ga\\x0D\\x0A\\x1B[2J");
}

TEST(DiscLookup, CdTextNamesTracksWithoutTheDatabase) {
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.5}, {0.5}});
    // CD-TEXT in the cue sheet, written in UTF-8 (libcdio reads it as ISO-8859-1).
    std::ifstream in(image.Sheet);
    std::string sheet((std::istreambuf_iterator<char>(in)), {});
    in.close();
    sheet = "PERFORMER \"Björk\"\nTITLE \"Homogenic\"\n" + sheet;
    const size_t t1 = sheet.find("TRACK 01 AUDIO") + 15;
    sheet.insert(t1, "    TITLE \"Jóga\"\n");
    const size_t t2 = sheet.find("TRACK 02 AUDIO") + 15;
    sheet.insert(t2, "    TITLE \"AC/DC\"\n");
    std::ofstream(image.Sheet) << sheet;

    TCdDriveList drives;
    ASSERT_EQ(drives.AddImage(image.Sheet), 0);
    TCdText text;
    ASSERT_TRUE(drives.ReadCdText(0, text));
    EXPECT_EQ(text.Performer, "Björk");
    EXPECT_EQ(text.TrackTitles[0], "Jóga");
    EXPECT_EQ(RepairCdTextEncoding("Bj\xc3\xb6rk"), "Bj\xc3\xb6rk"); // Latin-1 text stays
    std::vector<TCdTrack> tracks;
    ASSERT_TRUE(drives.Tracks(0, tracks));
    auto items = CdTrackItems(tracks, 0, 0);
    TAppSettings settings = DefaultAppSettings();
    EXPECT_TRUE(NameCdTrackItems(items, nullptr, &text, settings));
    EXPECT_EQ(items[0].SourcePath, "01 Björk Jóga");
    EXPECT_EQ(items[1].SourcePath, "02 Björk AC_DC");
    EXPECT_EQ(items[1].Title, "AC/DC");
    EXPECT_EQ(items[1].Album, "Homogenic");
}
