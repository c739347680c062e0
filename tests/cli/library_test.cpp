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
#include <sys/wait.h>
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
        std::vector<std::string> argv{bwmedia::CliProgram(), "convert", "--to", to, "--out", out.string(),
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
from mutagen.apev2 import APEv2
args = sys.argv[1:]
for output, expected in zip(args[0::2], args[1::2]):
    if output.endswith('.wv'):
        # The tag alone: mutagen's WavPack class knows no rate outside the header's table.
        tags = APEv2(output)
        pictures = [tags['Cover Art (Front)'].value.split(b'\0', 1)[1]] if 'Cover Art (Front)' in tags else []
        f = None
    else:
        f = File(output)
    if f is None:
        pass
    elif output.endswith('.mp3'):
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

INSTANTIATE_TEST_SUITE_P(Targets, Library, testing::Values("mp3", "ogg", "wv", "opus"));

// A library named relative to the current folder, converted by a user who may not read all
// of it. Every path comes out in full, as Add File(s) gives it. What cannot be taken (a file
// the user may not read, a folder it may not list, a FLAC with a damaged header) is said
// before the run and fails the exit status; notes are not. Each file's line comes when the
// file ends: it is read through the pipe while the last file is still being converted. The
// tests run as root, whom permissions do not stop: the tool runs as nobody then.
TEST(LibraryLines, InFullAsEachFileEndsWithWhatCannotBeTaken) {
    TTempDir dir;
    const std::string here = fs::canonical(dir.Path()).string(), lib = here + "/lib";
    fs::create_directories(lib + "/Locked");
    MakeTone(lib + "/a.flac", 0.2);
    MakeTone(here + "/long.flac", 120); // seconds of work for the encoder
    for (const char* name : {"/b.flac", "/c.mp3", "/notes.txt"}) // b.flac has no "fLaC" mark
        WriteAll(lib + name, std::vector<std::byte>(64, std::byte{'X'}));
    for (const char* locked : {"/c.mp3", "/Locked"})
        fs::permissions(lib + locked, fs::perms::none);
    fs::permissions(here, fs::perms::all);
    const std::string cli = (geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups -- " : "") +
                            std::string(bwmedia::CliProgram()) + " ";
    FILE* pipe = popen(("cd " + here + " && " + cli + "tags lib/../lib/a.flac && " + cli +
                        "convert --to mp3 --jobs 1 --out out --recursive lib long.flac 2>/dev/null").c_str(), "r");
    std::string out, line(1 << 16, '\0');
    bool lastEnded = false; // when the tags, the three refused and the first converted are read
    for (int n = 1; fgets(line.data(), static_cast<int>(line.size()), pipe); ++n)
        lastEnded |= (out += line.c_str(), n == 5) && fs::exists(here + "/out/long.mp3");
    EXPECT_EQ(WEXITSTATUS(pclose(pipe)), 1);
    EXPECT_FALSE(lastEnded) << "the first lines came only after the last file had ended";
    for (size_t at; (at = out.find(here)) != std::string::npos;)
        out.replace(at, here.size(), "~");
    EXPECT_TRUE(out.starts_with("{\"File\":\"~/lib/a.flac\",")) << out;
    EXPECT_TRUE(out.ends_with(R"({"SourcePath":"~/lib/b.flac","TargetPath":"","Status":"Error","Reason":"not a supported audio file"}
{"SourcePath":"~/lib/c.mp3","TargetPath":"","Status":"Error","Reason":"cannot be read"}
{"SourcePath":"~/lib/Locked","TargetPath":"","Status":"Error","Reason":"cannot be read"}
{"SourcePath":"~/lib/a.flac","TargetPath":"~/out/a.mp3","Status":"Done"}
{"SourcePath":"~/long.flac","TargetPath":"~/out/long.mp3","Status":"Done"}
)")) << out;
}
