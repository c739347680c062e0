// The command line against a CDDB server on 127.0.0.1: cd lookup prints the record, and a
// generated disc image ripped with convert --cd ends in named, tagged files inside the
// output folder, however hostile the names the server sends.

#include "support/cdimages.h"
#include "encoders/convertertesthelp.h"
#include "support/cddbserver.h"
#include "support/testsupport.h"

#include <QEventLoop>
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

} // namespace

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
