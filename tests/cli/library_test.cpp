// A whole music library through the command line: sixty files of every readable format in
// Artist/Album folders, two albums with an "01 Intro" each, pictures and notes beside the
// music, and a name FAT refuses. Converted with the folder structure kept, it comes out as
// the same tree; run again over it, nothing is converted; after an album is added, only
// that album is; the names go onto a FAT file system as they are; every output carries its
// source's cover, the one in the file or else the picture beside it.

#include "encoders/convertertesthelp.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <unistd.h>

using namespace bwtest;
namespace fs = std::filesystem;

namespace {

// Relative path (below the library's parent) and last write time of every file below root.
std::map<std::string, fs::file_time_type> Tree(const fs::path& root) {
    std::map<std::string, fs::file_time_type> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files[fs::relative(e.path(), root).string()] = e.last_write_time();
    return files;
}

// The JSON lines' statuses, one a converted or passed-over file.
std::vector<std::string> Statuses(const std::string& out) {
    std::vector<std::string> statuses;
    for (size_t at = 0; (at = out.find("\"Status\":\"", at)) != std::string::npos;) {
        at += 10;
        statuses.push_back(out.substr(at, out.find('"', at) - at));
    }
    return statuses;
}

class Library : public testing::TestWithParam<std::string> {
protected:
    static void SetUpTestSuite() {
        library_ = std::make_unique<TTempDir>();
        const std::string wav = library_->File("tone.wav");
        MakeTone(wav, 1, 44100, 2, {"-c:a", "pcm_s16le"});
        const auto& kinds = SourceKinds();
        const std::vector<std::pair<std::string, std::string>> albums{
            {"Artist A", "Album 1"}, {"Artist A", "Album 2"}, {"Artist B", "Album 3"},
            {"Artist C", "Album 4"}, {"Artist C", "Album 5"}};
        // The first album's FLAC files hold a picture of their own; every album has a
        // cover.jpg of its own colour beside its files.
        const std::string embedded = library_->File("embedded.png");
        RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "color=blue:s=48x32", "-frames:v", "1", embedded});
        const char* colours[] = {"red", "green", "yellow", "white", "gray"};
        int made = 0;
        for (size_t a = 0; a < albums.size(); ++a) {
            const fs::path folder = library_->Path() / "Music" / albums[a].first / albums[a].second;
            fs::create_directories(folder);
            RunOk({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                   std::string("color=") + colours[a] + ":s=64x64", "-frames:v", "1", (folder / "cover.jpg").string()});
            for (int t = 1; t <= 12; ++t) {
                const auto& kind = kinds[static_cast<size_t>(made++) % kinds.size()];
                std::string name = t == 1 && a < 2 ? "01 Intro" : (t < 10 ? "0" : "") + std::to_string(t) + " Song";
                if (a == 4 && t == 12)
                    name = "What?: A_B";
                const fs::path source = folder / (name + fs::path(kind.Name).extension().string());
                kind.Make(wav, source.string());
                if (a == 0 && source.extension() == ".flac")
                    RunOk({"metaflac", "--import-picture-from=" + embedded, source.string()});
            }
            WriteAll((folder / "notes.txt").string(), std::vector<std::byte>(8, std::byte{'n'}));
        }
        fs::remove(wav);
    }
    static void TearDownTestSuite() { library_.reset(); }

    static TRunResult Convert(const std::string& to, const fs::path& music, const fs::path& out, bool skipExisting) {
        std::vector<std::string> argv{BW_CLI_PATH, "convert", "--to", to, "--out", out.string(),
                                      "--recursive", "--keep-structure", "--safe-names", "--jobs", "2"};
        if (skipExisting)
            argv.push_back("--skip-existing");
        argv.push_back(music.string());
        return bwtest::Run(argv);
    }

    static std::unique_ptr<TTempDir> library_;
};
std::unique_ptr<TTempDir> Library::library_;

} // namespace

TEST_P(Library, SameTreeThenOnlyWhatIsNew) {
    const std::string to = GetParam();
    TTempDir work;
    const fs::path music = work.Path() / "Music";
    fs::copy(library_->Path() / "Music", music, fs::copy_options::recursive);
    const fs::path out = work.Path() / "out";

    // The output tree is the library's own, audio only, every name kept but the one FAT
    // refuses.
    const auto first = Convert(to, music, out, false);
    EXPECT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(Statuses(first.Out), std::vector<std::string>(60, "Done")) << first.Out;
    std::set<std::string> expected;
    // Each output with the picture it must hold: the FLAC's own, else its album's cover.jpg.
    std::vector<std::string> coverPairs;
    for (const auto& [path, time] : Tree(music)) {
        const fs::path p(path);
        if (p.extension() == ".jpg" || p.extension() == ".txt")
            continue;
        const std::string stem = p.stem() == "What?: A_B" ? "What__ A_B" : p.stem().string();
        const std::string output = ("Music" / p.parent_path() / (stem + "." + to)).string();
        expected.insert(output);
        coverPairs.push_back((out / output).string());
        coverPairs.push_back(p.parent_path() == "Artist A/Album 1" && p.extension() == ".flac"
                                 ? library_->File("embedded.png")
                                 : (music / p.parent_path() / "cover.jpg").string());
    }
    ASSERT_EQ(expected.size(), 60u);
    const auto converted = Tree(out);
    std::set<std::string> names;
    for (const auto& [path, time] : converted)
        names.insert(path);
    EXPECT_EQ(names, expected);
    EXPECT_NEAR(DecodedSeconds((out / "Music/Artist A/Album 2/01 Intro." += to).string()), 1.0, 0.1);
    // The picture in every output, as mutagen reads it, is the very file it came from.
    std::vector<std::string> check{"/usr/bin/python3", "-c", R"(
import base64, sys
from mutagen import File
from mutagen.flac import Picture
args = sys.argv[1:]
for output, expected in zip(args[0::2], args[1::2]):
    f = File(output)
    if output.endswith('.mp3'):
        pictures = [p.data for p in f.tags.getall('APIC')] if f.tags else []
    else:
        pictures = [Picture(base64.b64decode(v)).data for v in f.get('metadata_block_picture', [])]
    if pictures != [open(expected, 'rb').read()]:
        print('wrong cover: ' + output)
)"};
    check.insert(check.end(), coverPairs.begin(), coverPairs.end());
    EXPECT_EQ(RunOk(check), "");

    // Again over the same library: nothing is converted, nothing asked, every file Done.
    const auto second = Convert(to, music, out, true);
    EXPECT_EQ(second.ExitCode, 0) << second.Err;
    EXPECT_EQ(Statuses(second.Out), std::vector<std::string>(60, "Done"));
    EXPECT_EQ(second.Err.find("already exists"), std::string::npos) << second.Err;
    EXPECT_EQ(Tree(out), converted);

    // An album added: only its files are converted.
    fs::create_directories(music / "Artist B" / "Album 6");
    for (const char* name : {"01 New.flac", "02 New.flac"})
        MakeTone((music / "Artist B/Album 6" / name).string(), 1);
    const auto third = Convert(to, music, out, true);
    EXPECT_EQ(third.ExitCode, 0) << third.Err;
    auto now = Tree(out);
    EXPECT_EQ(now.size(), 62u);
    for (const auto& [path, time] : converted)
        EXPECT_EQ(now[path], time) << path << " was converted again";
    EXPECT_TRUE(now.count(("Music/Artist B/Album 6/02 New." + to)));

    // Every name goes onto a FAT file system unchanged (mtools writes FAT as the kernel's
    // vfat does; this machine's kernel cannot mount one).
    const std::string image = work.File("fat.img");
    RunOk({"truncate", "-s", "32M", image});
    RunOk({"mkfs.vfat", image});
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    const auto copied = bwtest::Run({"mcopy", "-s", "-i", image, (out / "Music").string(), "::"});
    EXPECT_EQ(copied.ExitCode, 0) << copied.Err;
    const std::string listing = RunOk({"mdir", "-/", "-b", "-i", image, "::Music"});
    for (const auto& [path, time] : now)
        EXPECT_NE(listing.find("::/" + path + "\n"), std::string::npos) << path << " in\n" << listing;
}

INSTANTIATE_TEST_SUITE_P(MpAndOgg, Library, testing::Values("mp3", "ogg"));

// What a library holds that cannot be converted is said, not passed over: a file its user
// may not read and a folder it may not list ("cannot be read"), a FLAC whose header is
// damaged ("not a supported audio file"); each gets an Error line before the run, and the
// exit status says that not everything was converted. Notes beside the music stay unsaid.
// The tests run as root, whom permissions do not stop: the tool runs as nobody then.
TEST(LibraryProblems, UnreadableAndDamagedFilesAreSaid) {
    TTempDir dir;
    const fs::path album = dir.Path() / "Music" / "Album";
    fs::create_directories(album / "Locked");
    MakeTone((album / "01 Good.flac").string(), 0.2);
    fs::copy_file(album / "01 Good.flac", album / "Locked" / "x.flac");
    auto damaged = ReadAll((album / "01 Good.flac").string());
    std::fill_n(damaged.begin(), 4, std::byte{'X'}); // no "fLaC" mark
    WriteAll((album / "02 Damaged.flac").string(), damaged);
    MakeTone((album / "03 Secret.mp3").string(), 0.2);
    WriteAll((album / "notes.txt").string(), std::vector<std::byte>(8, std::byte{'n'}));
    fs::permissions(album / "03 Secret.mp3", fs::perms::none);
    fs::permissions(album / "Locked", fs::perms::none);
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::create_directory(dir.Path() / "out");
    fs::permissions(dir.Path() / "out", fs::perms::all);

    std::vector<std::string> argv{BW_CLI_PATH, "convert", "--to", "flac", "--out", dir.File("out"), "--recursive",
                                  dir.File("Music")};
    if (geteuid() == 0)
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    const auto r = bwtest::Run(argv);
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    const auto line = [](const fs::path& source, const std::string& rest) {
        return "{\"SourcePath\":\"" + source.string() + "\",\"TargetPath\":" + rest + "}\n";
    };
    EXPECT_EQ(r.Out, line(album / "02 Damaged.flac", "\"\",\"Status\":\"Error\",\"Reason\":\"not a supported audio file\"") +
                         line(album / "03 Secret.mp3", "\"\",\"Status\":\"Error\",\"Reason\":\"cannot be read\"") +
                         line(album / "Locked", "\"\",\"Status\":\"Error\",\"Reason\":\"cannot be read\"") +
                         line(album / "01 Good.flac", "\"" + dir.File("out/01 Good.flac") + "\",\"Status\":\"Done\""))
        << r.Err;
}
