#include "cli/tagscommand.h"
#include "tags/apetag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace bwtest;

namespace {

// Lines of JSON, each parsed by Python's json module; prints the asked expressions, one a line.
std::string Query(const std::string& jsonLines, const std::vector<std::string>& expressions) {
    std::vector<std::string> argv{"/usr/bin/python3", "-c",
                                  "import json, sys\n"
                                  "rows = [json.loads(l) for l in sys.stdin.read().splitlines()]\n"
                                  "for e in sys.argv[1:]:\n"
                                  "    print(json.dumps(eval(e), ensure_ascii=False))\n"};
    argv.insert(argv.end(), expressions.begin(), expressions.end());
    const TRunResult r = Run(argv, jsonLines);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    return r.Out;
}

} // namespace

TEST(TagsCommand, OneObjectPerFileInArgumentOrder) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "tagged.mp3");
    bw::TID3v1 v1;
    v1.SetTitle("One");
    v1.SetTrack(2);
    v1.SetGenreIndex(17);
    ASSERT_TRUE(v1.Save(mp3));
    bw::TID3v2 v2;
    v2.SetTitle("\xD0\x96 \"quoted\"");
    v2.SetTrack(2);
    ASSERT_TRUE(v2.Save(mp3));
    const std::string ape = MakeMp3(dir, "ape.mp3");
    bw::TAPETag a;
    a.AddItem("Title", "Ape");
    a.AddItem("Comment", "line\nbreak");
    ASSERT_TRUE(a.Save(ape));
    const std::string tiny = dir.File("tiny.mp3");
    WriteText(tiny, "abc");

    std::ostringstream out, err;
    const int status = bw::RunTagsCommand({mp3, dir.File("missing.mp3"), ape, tiny}, out, err);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.str().find("missing.mp3"), std::string::npos);

    const std::string json = out.str();
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 4);
    EXPECT_EQ(Query(json, {"len(rows)"}), "4\n");

    const std::vector<std::string> exprs = {
        "rows[0]['File'].endswith('tagged.mp3')",
        "rows[0]['ID3v1']['Present'], rows[0]['ID3v1']['Revision'], rows[0]['ID3v1']['Title'], rows[0]['ID3v1']['Track'], rows[0]['ID3v1']['GenreIndex']",
        "rows[0]['ID3v2']['Present'], rows[0]['ID3v2']['VersionID'], rows[0]['ID3v2']['Size'], rows[0]['ID3v2']['Title'], rows[0]['ID3v2']['TrackText']",
        "rows[0]['APETag']['Present'], rows[0]['APETag']['Items']",
        "'error' in rows[1], 'ID3v1' in rows[1]",
        "rows[2]['APETag']['Present'], rows[2]['APETag']['Version'], rows[2]['APETag']['Items']",
        "rows[2]['ID3v1']['Present'], rows[2]['ID3v2']['Present']",
        "rows[3]['ID3v1']['Present'], rows[3]['ID3v2']['Present'], rows[3]['APETag']['Present']",
    };
    EXPECT_EQ(Query(json, exprs), "true\n"
                     "[true, 2, \"One\", 2, 17]\n"
                     "[true, 3, 4096, \"\xD0\x96 \\\"quoted\\\"\", \"2\"]\n"
                     "[false, []]\n"
                     "[true, false]\n"
                     "[true, 2000, [[\"Title\", \"Ape\"], [\"Comment\", \"line\\nbreak\"]]]\n"
                     "[false, false]\n"
                     "[false, false, false]\n");
}

TEST(TagsCommand, AllReadableGivesZero) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "a.mp3");
    std::ostringstream out, err;
    EXPECT_EQ(bw::RunTagsCommand({mp3, mp3}, out, err), 0);
    EXPECT_TRUE(err.str().empty());
    const std::string json = out.str();
    EXPECT_EQ(std::count(json.begin(), json.end(), '\n'), 2);
    EXPECT_EQ(Query(json, {"rows[0] == rows[1], rows[0]['ID3v2']['Present']"}), "[true, false]\n");
}

// A cover picture in an APE tag is binary: it is shown by its size, not as text. Text that
// holds line separators of other kinds (U+2028, U+2029, U+0085) or control characters is
// escaped, so the object stays on one line for every reader of JSON lines.
TEST(TagsCommand, BinaryApeItemsAndLineSeparatorsKeepOneLine) {
    TTempDir dir;
    const std::string mp3 = MakeMp3(dir, "cover.mp3");
    Python(R"py(
import sys
from mutagen.apev2 import APEv2, APEValue, BINARY
a = APEv2()
a["Title"] = "A\u2028B\u2029C\x85D\x01E\x7fF\x1bG"
# Picture bytes with NEL (0x85) and line feeds, 1000 of them after the file name.
a["Cover Art (Front)"] = APEValue(b"cover.jpg\x00" + bytes([0x85, 0x0A, 0xFF, 0xD8] * 250), BINARY)
a["Artist"] = "Band"
a.save(sys.argv[1])
)py",
           {mp3});
    std::ostringstream out, err;
    EXPECT_EQ(bw::RunTagsCommand({mp3}, out, err), 0);
    const std::string json = out.str();
    ASSERT_FALSE(json.empty());
    EXPECT_EQ(json.find('\n'), json.size() - 1);
    for (const std::string raw : {"\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9", "\x7F"})
        EXPECT_EQ(json.find(raw), std::string::npos) << json;
    EXPECT_TRUE(std::none_of(json.begin(), json.end() - 1, [](char c) {
        return static_cast<unsigned char>(c) < 0x20;
    })) << json;
    // Python splits lines at U+2028, U+2029 and U+0085 too.
    EXPECT_EQ(Query(json, {"len(rows)", "dict(rows[0]['APETag']['Items'])['Cover Art (Front)']",
                           "dict(rows[0]['APETag']['Items'])['Title'] == "
                           "'A\\u2028B\\u2029C\\x85D\\x01E\\x7fF\\x1bG'",
                           "dict(rows[0]['APETag']['Items'])['Artist']"}),
              "1\n{\"binary\": 1010}\ntrue\n\"Band\"\n");
}
