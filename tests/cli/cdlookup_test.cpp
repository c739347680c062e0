// The command line against a CDDB server on 127.0.0.1: cd lookup prints the record, and a
// generated disc image ripped with convert --cd ends in named, tagged files inside the
// output folder, however hostile the names the server sends.

#include "support/cdimages.h"
#include "encoders/convertertesthelp.h"
#include "support/cddbserver.h"
#include "support/testsupport.h"

#include "common/buildinfo.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using bwtest::TCddbReply;
using bwtest::TCddbServer;

namespace {

// Runs the tool while this thread's event loop serves the loopback server. The settings
// store is a fresh one, so the user's settings play no part.
bwtest::TRunResult RunCli(const std::vector<std::string>& args, const std::string& config) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(config));
    p.setProcessEnvironment(env);
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    p.start(bwmedia::CliProgram(), list);
    if (!p.waitForStarted())
        return {};
    loop.exec();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

TCddbReply Lines(const std::vector<std::string>& lines) { return {TCddbReply::TMode::Answer, 200, bwtest::CddbLines(lines)}; }

std::vector<std::string> Record(const std::string& dtitle, const std::vector<std::string>& titles) {
    std::vector<std::string> l{"210 rock 0b01c402 CD database entry follows", "# xmcd", "#",
                               "# Track frame offsets:", "#\t150", "#", "# Disc length: 454 seconds",
                               "# Revision: 3", "DISCID=0b01c402", "DTITLE=" + dtitle, "DYEAR=2001",
                               "DGENRE=Rock"};
    for (size_t i = 0; i < titles.size(); ++i)
        l.push_back("TTITLE" + std::to_string(i) + "=" + titles[i]);
    l.insert(l.end(), {"EXTD=", "EXTT0=", "PLAYORDER=", "."});
    return l;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

QJsonArray Credit(const std::string& name) {
    return {QJsonObject{{"name", Q(name)}, {"joinphrase", ""}, {"artist", QJsonObject{{"id", Q("id-" + name)}}}}};
}

// A release as the service's discid answer shapes it, the disc on medium `medium` of
// `media`; each track a title and its own artist (empty: the release's).
QJsonObject MbRelease(const std::string& id, const std::string& disc, const std::string& artist, const std::string& title,
                      const std::string& date, int medium, int media,
                      const std::vector<std::pair<std::string, std::string>>& tracks, const QStringList& genres) {
    QJsonArray mediaList, trackList, genreList;
    for (const auto& [name, by] : tracks)
        trackList.append(QJsonObject{{"id", Q("t-" + name)}, {"title", Q(name)}, {"recording", QJsonObject{{"id", Q("rec-" + name)}}},
                                     {"artist-credit", by.empty() ? QJsonArray{} : Credit(by)}});
    for (int m = 1; m <= media; ++m)
        mediaList.append(QJsonObject{{"position", m}, {"format", "CD"}, {"discs", QJsonArray{QJsonObject{{"id", Q(m == medium ? disc : "other")}}}},
                                     {"tracks", m == medium ? trackList : QJsonArray{}}});
    for (const QString& g : genres)
        genreList.append(QJsonObject{{"name", g}, {"count", 1}});
    QJsonObject r{{"id", Q(id)}, {"title", Q(title)}, {"artist-credit", Credit(artist)}, {"country", "GB"},
                  {"label-info", QJsonArray{QJsonObject{{"label", QJsonObject{{"name", "Label"}}}}}},
                  {"release-group", QJsonObject{{"id", Q("g-" + id)}, {"genres", genreList}}}, {"media", mediaList}};
    if (!date.empty())
        r.insert("date", Q(date));
    return r;
}

QByteArray MbAnswer(const QJsonArray& releases) { return QJsonDocument(QJsonObject{{"releases", releases}}).toJson(); }

// The disc id the service is asked about, from its request target.
std::string AskedDisc(const std::string& target) { return target.substr(13, target.find('?') - 13); }

void WriteConfig(const bwtest::TTempDir& dir, const std::string& lines) {
    std::filesystem::create_directories(dir.File("config/Halvorix"));
    std::ofstream(dir.File("config/Halvorix/Brindlewave.conf")) << "[General]\n" << lines;
}

} // namespace

// The first release by date names, tags and covers a rip from MusicBrainz: a two-disc
// compilation with a track artist each, Cyrillic, CJK and hostile texts that stay inside
// the output folder; cd lookup lists every release carrying the disc, --release choosing.
TEST(CliMusicBrainz, TheReleaseNamesTagsAndCoversTheRip) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.4}, {0.4}});
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(100, 'p');
    TCddbServer server([&](const std::string& t) -> TCddbReply {
        if (t.starts_with("/release/r-early/front-500"))
            return {TCddbReply::TMode::Answer, 307, "", "Moved", "/art/front.png"};
        if (t == "/art/front.png")
            return {TCddbReply::TMode::Answer, 200, png};
        const std::string disc = AskedDisc(t);
        return {TCddbReply::TMode::Answer, 200, MbAnswer({
            MbRelease("r-late", disc, "Группа", "Альбом", "2001-02-03", 1, 1, {{"Первая", ""}, {"二番目", ""}}, {"made up", "rock"}),
            MbRelease("r-other", "another disc", "X", "Y", "1990", 1, 1, {{"a", ""}}, {}),
            MbRelease("r-early", disc, "Various Artists", "../../x", "1999", 2, 2, {{"../a/\x01" "b", "Исполнитель"}, {"夜", "歌手/.."}}, {"pop"}),
            MbRelease("r-undated", disc, "Nobody", "Nothing", "", 1, 1, {{"a", ""}, {"b", ""}}, {})})};
    });
    const std::string url = "http://" + server.Address();
    WriteConfig(dir, "MusicBrainzServer=" + url + "\nCoverArtServer=" + url + "\nMusicBrainzContact=me@example.org\n");
    const auto r = RunCli({"convert", "--cd", image.Sheet, "--to", "flac", "--out", dir.File("out"), "--no-accuraterip"}, dir.File("config"));
    EXPECT_EQ(r.ExitCode, 0) << r.Err << r.Out;
    ASSERT_EQ(server.Requests().size(), 3u);
    EXPECT_EQ(server.Requests()[0], "/ws/2/discid/" + AskedDisc(server.Requests()[0]) +
                                        "?inc=artist-credits+labels+recordings+release-groups+genres&fmt=json");
    EXPECT_NE(server.Heads()[0].find("\r\nUser-Agent: Brindlewave/" + std::string(bw::kVersion) + " ( me@example.org )\r\n"),
              std::string::npos) << server.Heads()[0];
    EXPECT_EQ(bwtest::FolderEntries(dir.File("out")), (std::vector<std::string>{"_.._x.cue", "_.._x.log", "_.._x.m3u", "Исполнитель", "歌手_.."}));
    const std::vector<std::string> outputs{dir.File("out/Исполнитель/_.._x/01 Исполнитель .._a__b.flac"),
                                           dir.File("out/歌手_../_.._x/02 歌手_.. 夜.flac")};
    std::vector<std::string> check{"/usr/bin/python3", "-c", R"(
import sys
from mutagen.flac import FLAC
keys = ['title', 'artist', 'album', 'date', 'genre', 'albumartist', 'discnumber',
    'musicbrainz_albumid', 'musicbrainz_releasegroupid', 'musicbrainz_albumartistid', 'musicbrainz_artistid',
    'musicbrainz_releasetrackid', 'musicbrainz_trackid']
for path in sys.argv[1:]:
    f = FLAC(path)
    print('|'.join(f.get(k, [''])[0] for k in keys), len(f.pictures) == 1 and f.pictures[0].data == bytes.fromhex('89504e470d0a1a0a') + b'p' * 100)
)"};
    check.insert(check.end(), outputs.begin(), outputs.end());
    const std::string ids = "|Various Artists|2/2|r-early|g-r-early|id-Various Artists|id-";
    EXPECT_EQ(bwtest::RunOk(check), "../a/\x01" "b|Исполнитель|../../x|1999|Pop" + ids + "Исполнитель|t-../a/\x01" "b|rec-../a/\x01" "b" +
                                        " True\n夜|歌手/..|../../x|1999|Pop" + ids + "歌手/..|t-夜|rec-夜" + " True\n");

    const auto listed = RunCli({"cd", "lookup", "--drive", image.Sheet, "--release", "r-undated"}, dir.File("config"));
    EXPECT_EQ(listed.ExitCode, 0) << listed.Err;
    EXPECT_NE(listed.Out.find("\"Release\":\"Nobody - Nothing (GB, Label, CD, medium 1 of 1)\",\"Artist\":\"Nobody\",\"Title\":\"Nothing\",\"Date\":\"\","
                              "\"Country\":\"GB\",\"Label\":\"Label\",\"Format\":\"CD\",\"Medium\":1,\"Media\":1,\"TrackTitles\":[\"a\",\"b\"],"),
              std::string::npos) << listed.Out;
    EXPECT_NE(listed.Out.find("\"MbAlbumId\":\"r-undated\""), std::string::npos) << listed.Out;
    EXPECT_NE(listed.Out.find("}],\"Chosen\":true}\n"), std::string::npos) << listed.Out;
    EXPECT_EQ(std::count(listed.Out.begin(), listed.Out.end(), '\n'), 3);
    // The service counts requests by address: a second run straight after the first waits
    // for its turn too.
    ASSERT_EQ(RunCli({"cd", "lookup", "--drive", image.Sheet}, dir.File("config")).ExitCode, 0);
    const auto times = server.Times();
    ASSERT_GE(times.size(), 2u);
    EXPECT_GE(times.back() - times[times.size() - 2], std::chrono::milliseconds(950));
}

// Whatever goes wrong with MusicBrainz, the disc is looked up in the freedb database, the
// reason said; a busy service is asked once more after its Retry-After, a second later at
// the soonest. With neither database, CD-TEXT names the tracks.
TEST(CliMusicBrainz, EveryFailureFallsBackToTheFreedbDatabase) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    WriteConfig(dir, "Timeout=2\n");
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.4}, {0.4}});
    const TCddbReply busy{TCddbReply::TMode::Answer, 503, "", "Busy", {}, "Retry-After: 0\r\n"};
    const struct {
        const char* Name;
        std::vector<TCddbReply> Replies;
        std::string Said; // on err; empty: named from MusicBrainz
    } cases[] = {
        {"404", {{TCddbReply::TMode::Answer, 404, "none"}}, "The disc is not in MusicBrainz"},
        {"another disc", {{TCddbReply::TMode::Answer, 200, MbAnswer({MbRelease("r", "x", "A", "B", "", 1, 1, {}, {})})}}, "The disc is not in MusicBrainz"},
        {"busy twice", {busy, busy}, "gave no answer"},
        {"busy once", {busy, {}}, ""},
        {"cut short", {{TCddbReply::TMode::Cut, 200, "{\"releases\":[]}"}}, "gave no answer"},
        {"30 MB", {{TCddbReply::TMode::Flood, 200, {}}}, "The answer is larger than 4194304 bytes"},
        {"slow drip", {{TCddbReply::TMode::Drip, 200, QByteArray(100, ' ')}}, "Connection timed out"},
        {"no JSON", {{TCddbReply::TMode::Answer, 200, "<html>"}}, "sent an unusable answer: the answer is no JSON"},
    };
    for (const auto& c : cases) {
        size_t asked = 0;
        TCddbServer server([&](const std::string& t) -> TCddbReply {
            if (t.find("cddb+query") != std::string::npos)
                return Lines({"200 rock 0b01c402 Band / Album"});
            if (!t.starts_with("/ws/2/"))
                return Lines(Record("Band / Album", {"One", "Two"}));
            const TCddbReply& reply = c.Replies.at(asked++);
            return reply.Body.isEmpty() && reply.Mode == TCddbReply::TMode::Answer && reply.Status == 200
                       ? TCddbReply{TCddbReply::TMode::Answer, 200, MbAnswer({MbRelease("r", AskedDisc(t), "A", "B", "", 1, 1, {{"T", ""}}, {})})}
                       : reply;
        });
        const auto r = RunCli({"cd", "lookup", "--drive", image.Sheet, "--server", server.Address(), "--musicbrainz-server",
                               "http://" + server.Address()}, dir.File("config"));
        EXPECT_EQ(r.ExitCode, 0) << c.Name << r.Err;
        EXPECT_EQ(asked, c.Replies.size()) << c.Name;
        EXPECT_NE(r.Out.find(c.Said.empty() ? "\"Chosen\":true" : "\"LookupState\":12"), std::string::npos) << c.Name << r.Out;
        EXPECT_NE(r.Err.find(c.Said), std::string::npos) << c.Name << r.Err;
        EXPECT_EQ(r.Err.find("; looking the disc up in the freedb database") != std::string::npos, !c.Said.empty()) << c.Name << r.Err;
        EXPECT_TRUE(asked < 2 || server.Times()[1] - server.Times()[0] >= std::chrono::milliseconds(950)) << c.Name;
    }
    // Neither database knows the album image: its sheet names the tracks, and that is said.
    bwtest::MakeTone(dir.File("album.flac"), 1.0);
    std::ofstream(dir.File("album.cue")) << "PERFORMER \"Band\"\nTITLE \"Record\"\nFILE \"album.flac\" WAVE\n"
                                            "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n";
    const std::string closed = "127.0.0.1:" + std::to_string(TCddbServer::ClosedPort());
    const auto r = RunCli({"convert", "--cd", dir.File("album.cue"), "--server", closed, "--musicbrainz-server", "http://" + closed,
                           "--no-accuraterip", "--to", "wav", "--out", dir.File("o")}, dir.File("config"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("o/Band/Record/01 Band One.wav"))) << r.Err;
    EXPECT_NE(r.Err.find("Connection refused; looking the disc up in the freedb database"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("The disc was found in no database; the tracks are named from its CD-TEXT"), std::string::npos) << r.Err;
}

TEST(CliCdLookup, LookupPrintsTheRecord) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.4}, {0.4}});
    TCddbServer server([](const std::string& t) {
        if (t.find("cddb+query") != std::string::npos)
            return Lines({"200 rock 0b01c402 Группа / Альбом"});
        return Lines(Record("Группа / Альбом", {"Первая", "二番目"}));
    });
    const auto r = RunCli({"cd", "lookup", "--drive", image.Sheet, "--server", server.Address()}, dir.File("config"));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("\"Artist\":\"Группа\",\"Title\":\"Альбом\",\"Year\":\"2001\",\"Genre\":\"Rock\","
                         "\"TrackTitles\":[\"Первая\",\"二番目\"],\"Category\":\"rock\",\"Revision\":3,"
                         "\"LookupState\":12}"), std::string::npos) << r.Out;
    EXPECT_NE(r.Err.find("brindlewave-cli: Entry read\n"), std::string::npos) << r.Err;

    // Nobody listening: the failure is said and the state printed.
    const auto refused = RunCli({"cd", "lookup", "--drive", image.Sheet, "--server",
                                 "127.0.0.1:" + std::to_string(TCddbServer::ClosedPort())}, dir.File("config"));
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Out.find("\"LookupState\":16}"), std::string::npos) << refused.Out;
}

TEST(CliCdLookup, ConvertNamesAndTagsFromTheLookupInsideTheOutputFolder) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.4}, {0.4}, {0.4}});
    const std::string longTitle(300, 'L');
    TCddbServer server([&](const std::string& t) {
        if (t.find("cddb+query") != std::string::npos)
            return Lines({"200 rock 0b01c402 AC/DC / ../../x"});
        return Lines(Record("AC/DC / ../../x", {"AC/DC", "../../x", longTitle}));
    });
    bwtest::TTempDir out;
    const auto r = RunCli({"convert", "--cd", image.Sheet, "--to", "flac", "--out", out.Path().string(),
                           "--server", server.Address(), "--no-accuraterip"}, dir.File("config"));
    EXPECT_EQ(r.ExitCode, 0) << r.Err << r.Out;
    const std::string folder = out.File("AC_DC/_.._x");
    const std::vector<std::string> names{"01 AC_DC AC_DC.flac", "03 AC_DC " + std::string(241, 'L') + ".flac"};
    for (const auto& name : names)
        EXPECT_TRUE(std::filesystem::exists(folder + "/" + name)) << name;
    EXPECT_EQ(names[1].size(), 255u);
    // Nothing outside the output folder; every file in the album folder.
    EXPECT_EQ(bwtest::FolderEntries(out.Path().string()), (std::vector<std::string>{"AC_DC"}));
    EXPECT_EQ(bwtest::FolderEntries(dir.Path().string()), (std::vector<std::string>{"disc.bin", "disc.cue"}));
    // The three tracks, and the rip's log, cue sheet and playlist named after the album, safely.
    const auto files = bwtest::FolderEntries(folder);
    ASSERT_EQ(files.size(), 6u);
    for (const char* type : {".cue", ".log", ".m3u"})
        EXPECT_TRUE(std::filesystem::exists(folder + "/_.._x" + type)) << type;
    for (const auto& f : files) {
        if (!f.ends_with(".flac"))
            continue;
        const auto tags = bwtest::ProbeTags(folder + "/" + f);
        EXPECT_EQ(tags.at("artist"), "AC/DC") << f;
        EXPECT_EQ(tags.at("album"), "../../x") << f;
        const std::string title = tags.at("title");
        EXPECT_TRUE(title == "AC/DC" || title == "../../x" || title == longTitle) << f << ": " << title;
    }
}

// An album image is looked up as the disc it was ripped from: its disc id and offsets come
// from the sheet's INDEX 01 times (gaps go with the track before), the lead-out from the
// file's length, and the record names the converted tracks.
TEST(CliCdLookup, AlbumImageIsLookedUpByItsSheetOffsets) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    bwtest::MakeTone(dir.File("album.flac"), 9.37); // 702.75 frames: the lead-out is at 703
    std::ofstream(dir.File("album.cue")) << "FILE \"album.flac\" WAVE\n"
                                            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                            "  TRACK 02 AUDIO\n    INDEX 00 00:02:40\n    INDEX 01 00:03:08\n"
                                            "  TRACK 03 AUDIO\n    INDEX 01 00:06:62\n";
    // Offsets 150, 383 and 662 (2, 5 and 8 s: digit sum 15), lead-out 853 (11 s, 9 s long).
    std::string query;
    TCddbServer server([&query](const std::string& t) {
        if (t.find("cddb+query") != std::string::npos) {
            query = t;
            return Lines({"200 rock 0f000903 Band / Album"});
        }
        return Lines(Record("Band / Album", {"One", "Two", "Three"}));
    });
    const auto r = RunCli({"cd", "lookup", "--drive", dir.File("album.cue"), "--server", server.Address()},
                          dir.File("config"));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(query.find("cddb+query+0f000903+3+150+383+662+11"), std::string::npos) << query;
    EXPECT_NE(r.Out.find("\"TrackTitles\":[\"One\",\"Two\",\"Three\"]"), std::string::npos) << r.Out;

    std::filesystem::create_directory(dir.File("out"));
    const auto c = RunCli({"convert", "--cd", dir.File("album.cue"), "--server", server.Address(), "--to",
                           "wav", "--out", dir.File("out")},
                          dir.File("config"));
    EXPECT_EQ(c.ExitCode, 0) << c.Err;
    for (const char* name : {"01 Band One.wav", "02 Band Two.wav", "03 Band Three.wav"})
        EXPECT_TRUE(std::filesystem::exists(dir.File("out/Band/Album/") + name)) << c.Out;
}

// An album image's tracks are listed with the sheet's names and tags from the start, and
// those names reach convert --cd, which with --no-lookup asks no disc database. A disc
// without audio tracks is said, not converted.
TEST(CliCdLookup, TracksCarryTheSheetsNames) {
    bwtest::CoreApp();
    bwtest::TTempDir dir;
    int requests = 0;
    TCddbServer server([&requests](const std::string&) { return ++requests, Lines({"202 No match found"}); });
    std::filesystem::create_directories(dir.File("config/Halvorix"));
    std::ofstream(dir.File("config/Halvorix/Brindlewave.conf")) << "[General]\nFreeDBServer=" << server.Address();
    bwtest::MakeTone(dir.File("album.flac"), 1.0);
    std::ofstream(dir.File("album.cue")) << "PERFORMER \"Band\"\nTITLE \"Record\"\nFILE \"album.flac\" WAVE\n"
                                            "  TRACK 01 AUDIO\n    TITLE \"One\"\n    INDEX 01 00:00:00\n";
    const auto tracks = RunCli({"cd", "tracks", "--drive", dir.File("album.cue")}, dir.File("config"));
    EXPECT_NE(tracks.Out.find("\"Title\":\"One\",\"Artist\":\"Band\",\"Album\":\"Record\""), std::string::npos);
    RunCli({"convert", "--cd", dir.File("album.cue"), "--no-lookup", "--to", "flac", "--out", dir.File("o")}, dir.File("config"));
    EXPECT_TRUE(std::filesystem::exists(dir.File("o/Band/Record/01 Band One.flac")));
    EXPECT_EQ(requests, 0);
    const auto none = RunCli({"convert", "--cd", bwtest::MakeImage(dir.Path().string(), "data", {{0.5, true}}).Sheet,
                              "--to", "flac", "--out", dir.File("x")}, dir.File("config"));
    EXPECT_TRUE(none.ExitCode == 1 && none.Err.find("the disc has no audio tracks") != std::string::npos) << none.Err;
}

// A rip from the command line carries each track's verdict and checksums on its JSON line.
TEST(CliCdLookup, ConvertCarriesTheAccurateRipResult) {
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.4}, {0.4}});
    TCddbServer server([](const std::string&) { return TCddbReply{TCddbReply::TMode::Answer, 404, "none"}; });
    const auto r = RunCli({"convert", "--cd", image.Sheet, "--no-lookup", "--accuraterip-server", server.Address(), "--to",
                           "wav", "--out", dir.File("a")}, dir.File("config"));
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_NE(r.Out.find("\"Status\":\"Done\",\"AccurateRip\":\"Not in database\",\"Confidence\":0,\"CrcV1\":\""),
              std::string::npos) << r.Out;
}
