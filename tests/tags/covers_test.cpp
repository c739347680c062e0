#include "tags/covers.h"
#include "support/apemake.h"
#include "tags/apetag.h"
#include "tags/asfguids.h"
#include "tags/flacfile.h"
#include "tags/id3v2.h"
#include "tags/tagsource.h"
#include "tags/tagtestutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

using bw::TCoverArt;
using bw::TCoverTarget;
using namespace bwtest;

namespace {

std::string AsString(const std::vector<std::byte>& b) { return std::string(reinterpret_cast<const char*>(b.data()), b.size()); }

std::vector<std::byte> Bytes(std::string_view s) {
    const auto b = Span(s);
    return {b.begin(), b.end()};
}

std::string Hex(std::string_view s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// Monkey's Audio through our own compressor, from a tone decoded by ffmpeg.
void MakeApe(const std::string& wav, const std::string& path) {
    bwtest::CompressToApe(FfmpegDecode(wav), 44100, 16, 2, 2000, path);
}

// Prints the hex of the first picture's bytes and the title, as mutagen reads the file.
constexpr const char* kReadBack = R"(
import sys, base64, mutagen, mutagen.id3, mutagen.flac, mutagen.apev2, mutagen.mp4
p, kind = sys.argv[1], sys.argv[2]
if kind == 'mp4':
    t = mutagen.mp4.MP4(p).tags; pics = t.get('covr', []); data = bytes(pics[0]) if pics else b''
    title = t.get('\xa9nam', [''])[0]; n = len(pics)
elif kind == 'mp3':
    t = mutagen.id3.ID3(p); pic = t.getall('APIC'); data = pic[0].data if pic else b''
    title = str(t['TIT2']) if 'TIT2' in t else ''; n = len(pic)
elif kind == 'flac':
    f = mutagen.flac.FLAC(p); data = f.pictures[0].data if f.pictures else b''
    title = f.get('title', [''])[0]; n = len(f.pictures)
elif kind == 'ogg':
    f = mutagen.File(p); pics = f.get('metadata_block_picture', [])
    data = mutagen.flac.Picture(base64.b64decode(pics[0])).data if pics else b''
    title = f.get('title', [''])[0]; n = len(pics)
else:
    t = mutagen.apev2.APEv2(p); v = t['Cover Art (Front)'].value if 'Cover Art (Front)' in t else b''
    data = v[v.index(b'\0') + 1:] if v else b''
    title = str(t['Title']) if 'Title' in t else ''; n = len([k for k in t.keys() if k.lower().startswith('cover art')])
print(data.hex()); print(title); print(n)
)";

struct TReadBack {
    std::string PictureHex, Title, Count;
};
TReadBack ReadBack(const std::string& path, const std::string& kind) {
    std::istringstream out(Python(kReadBack, {path, kind}));
    TReadBack back;
    std::getline(out, back.PictureHex);
    std::getline(out, back.Title);
    std::getline(out, back.Count);
    return back;
}

// The PNG is noise, over 64 KB, so that WMA keeps it in the Metadata Library Object.
class CoverFiles : public ::testing::Test {
protected:
    void SetUp() override {
        RunOk({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=red:s=64x64", "-frames:v", "1", jpeg_});
        RunOk({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "nullsrc=s=200x200,geq=random(1)*255:random(2)*255:128", "-frames:v", "1", png_});
        MakeTone(wav_, 0.5);
    }
    TTempDir dir_;
    const std::string jpeg_ = dir_.File("a.jpg"), png_ = dir_.File("b.png"), wav_ = dir_.File("t.wav");
};

TEST_F(CoverFiles, EverySourceKindIntoEveryOutputKind) {
    const std::string jpeg = AsString(ReadAll(jpeg_)), png = AsString(ReadAll(png_));
    const std::string src = (dir_.Path() / "src").string();
    std::filesystem::create_directory(src);
    auto at = [&](const std::string& name) { return src + "/" + name; };

    // Sources made by the real encoders, pictures put there by the real tools.
    RunOk({"lame", "--quiet", "--ti", jpeg_, wav_, at("lame.mp3")});
    RunOk({"ffmpeg", "-v", "error", "-i", wav_, "-c:a", "libmp3lame", at("v24.mp3")});
    Python("import sys, mutagen.id3 as i\n"
           "t = i.ID3(); t.add(i.APIC(encoding=1, mime='image/png', type=4, desc='back', data=open(sys.argv[2],'rb').read()))\n"
           "t.add(i.APIC(encoding=3, mime='image/jpeg', type=3, desc='Передняя', data=open(sys.argv[3],'rb').read()))\n"
           "t.save(sys.argv[1], v2_version=4)\n",
           {at("v24.mp3"), png_, jpeg_});
    RunOk({"flac", "-s", "-f", wav_, "-o", at("s.flac")});
    RunOk({"metaflac", "--import-picture-from=" + png_, at("s.flac")});
    RunOk({"oggenc", "-Q", wav_, "-o", at("s.ogg")});
    RunOk({"mpcenc", "--silent", wav_, at("s.mpc")});
    RunOk({"wavpack", "-q", "-y", wav_, "-o", at("s.wv")});
    MakeApe(wav_, at("s.ape"));
    RunOk({"ffmpeg", "-v", "error", "-i", wav_, "-c:a", "wmav2", at("s.wma")});
    RunOk({"ffmpeg", "-v", "error", "-i", wav_, "-c:a", "libopus", at("s.opus")});
    RunOk({"ffmpeg", "-v", "error", "-i", wav_, "-c:a", "aac", at("s.m4a")});
    Python("import sys, mutagen.mp4 as m\nf = m.MP4(sys.argv[1]); f['covr'] = [m.MP4Cover(open(sys.argv[2],'rb').read(), m.MP4Cover.FORMAT_PNG)]; f.save()\n",
           {at("s.m4a"), png_});
    Python("import sys, base64, mutagen, mutagen.flac, mutagen.apev2, mutagen.asf, struct\n"
           "img = open(sys.argv[1],'rb').read()\n"
           "pic = mutagen.flac.Picture(); pic.type = 3; pic.mime = 'image/png'; pic.data = img\n"
           "for p in (sys.argv[2], sys.argv[7]):\n"
           "    f = mutagen.File(p); f['metadata_block_picture'] = [base64.b64encode(pic.write()).decode()]; f.save()\n"
           "for p in sys.argv[3:6]:\n"
           "    t = mutagen.apev2.APEv2(); t['Title'] = 'x'\n"
           "    t['Cover Art (Front)'] = mutagen.apev2.APEValue(b'c.png\\0' + img, mutagen.apev2.BINARY); t.save(p)\n"
           "w = mutagen.asf.ASF(sys.argv[6])\n"
           "v = struct.pack('<bI', 3, len(img)) + 'image/png'.encode('utf-16-le') + b'\\0\\0' + 'd'.encode('utf-16-le') + b'\\0\\0' + img\n"
           "w['WM/Picture'] = [mutagen.asf.ASFByteArrayAttribute(v)]; w.save()\n",
           {png_, at("s.ogg"), at("s.mpc"), at("s.wv"), at("s.ape"), at("s.wma"), at("s.opus")});

    const std::map<std::string, std::pair<std::string, std::string>> sources = {
        {"lame.mp3", {jpeg, "image/jpeg"}}, {"v24.mp3", {jpeg, "image/jpeg"}},
        {"s.flac", {png, "image/png"}},     {"s.ogg", {png, "image/png"}},
        {"s.mpc", {png, "image/png"}},      {"s.wv", {png, "image/png"}},
        {"s.ape", {png, "image/png"}},      {"s.wma", {png, "image/png"}},
        {"s.opus", {png, "image/png"}},    {"s.m4a", {png, "image/png"}}};

    // Outputs of every kind, made by the encoders the conversion uses, each with a title.
    const std::string outs = (dir_.Path() / "out").string();
    std::filesystem::create_directory(outs);
    auto out = [&](const std::string& name) { return outs + "/" + name; };
    RunOk({"lame", "--quiet", wav_, out("o.mp3")});
    bw::TID3v2 v2;
    v2.SetTitle("Title one");
    ASSERT_TRUE(v2.Save(out("o.mp3")));
    RunOk({"flac", "-s", "-T", "TITLE=Title one", wav_, "-o", out("o.flac")});
    RunOk({"oggenc", "-Q", wav_, "-o", out("o.ogg")});
    // Values any byte may stand in: a line break, a backslash, letters beyond ASCII.
    Python("import sys, mutagen.oggvorbis as o\n"
           "f = o.OggVorbis(sys.argv[1]); f['title'] = 'Title one'; f['comment'] = 'Zwei\\nZeilen \\\\ Ünï'; f.save()\n",
           {out("o.ogg")});
    RunOk({"mpcenc", "--silent", "--tag", "Title=Title one", wav_, out("o.mpc")});
    MakeApe(wav_, out("o.ape"));
    bw::TAPETag ape;
    ape.AddItem("Title", "Title one");
    ASSERT_TRUE(ape.Save(out("o.ape")));
    // MP4 with its index behind the audio and in front of it (the audio moves as it grows),
    // and an item of mutagen's own that must stay.
    RunOk({"ffmpeg", "-v", "error", "-i", wav_, "-c:a", "aac", "-metadata", "title=Title one", out("o.m4a")});
    RunOk({"ffmpeg", "-v", "error", "-i", out("o.m4a"), "-c", "copy", "-movflags", "+faststart", out("f.m4a")});
    Python("import sys, mutagen.mp4\nf = mutagen.mp4.MP4(sys.argv[1]); f['----:com.apple.iTunes:MOOD'] = [b'calm']; f.save()\n",
           {out("o.m4a")});
    const std::vector<std::tuple<std::string, TCoverTarget, std::string>> targets = {
        {"o.mp3", TCoverTarget::Mp3, "mp3"}, {"o.flac", TCoverTarget::Flac, "flac"},
        {"o.ogg", TCoverTarget::OggVorbis, "ogg"}, {"o.mpc", TCoverTarget::Musepack, "ape"},
        {"o.ape", TCoverTarget::Ape, "ape"}, {"o.m4a", TCoverTarget::Mp4, "mp4"},
        {"f.m4a", TCoverTarget::Mp4, "mp4"}};
    std::map<std::string, std::vector<std::byte>> audio;
    for (const auto& [name, kind, check] : targets)
        audio[name] = FfmpegDecode(out(name));

    for (const auto& [source, expected] : sources) {
        SCOPED_TRACE(source);
        std::string why = "unset";
        const auto cover = bw::ReadFrontCover(at(source), &why);
        ASSERT_TRUE(cover) << why;
        EXPECT_EQ(why, "");
        EXPECT_EQ(AsString(cover->Data), expected.first);
        EXPECT_EQ(cover->MimeType, expected.second);
        // lame marks its picture "other"; the tools put front covers there.
        EXPECT_EQ(cover->PictureType, source == "lame.mp3" ? 0 : 3);
        if (source == "v24.mp3") {
            EXPECT_EQ(cover->Description, "Передняя");
        }
        for (const auto& [name, kind, check] : targets) {
            SCOPED_TRACE(name);
            const std::string path = out(source + "." + name);
            std::filesystem::copy_file(out(name), path);
            std::string note = "unset";
            ASSERT_TRUE(bw::WriteFrontCover(path, kind, *cover, &note)) << note;
            EXPECT_EQ(note, "");
            const TReadBack back = ReadBack(path, check);
            EXPECT_EQ(back.PictureHex, Hex(expected.first));
            EXPECT_EQ(back.Title, "Title one");
            EXPECT_EQ(back.Count, "1");
            EXPECT_EQ(FfmpegDecode(path), audio[name]);
            if (source != "v24.mp3")
                continue;
            // Written again, a picture of the same type replaces the one there.
            ASSERT_TRUE(bw::WriteFrontCover(path, kind, *cover, &note));
            EXPECT_EQ(ReadBack(path, check).Count, "1");
            if (check == "ogg") {
                EXPECT_EQ(Python("import sys, mutagen.oggvorbis as o\nprint(o.OggVorbis(sys.argv[1])['comment'][0])\n", {path}),
                          "Zwei\nZeilen \\ Ünï\n");
            }
        }
    }
    EXPECT_EQ(Python("import sys, mutagen.mp4\nprint(mutagen.mp4.MP4(sys.argv[1])['----:com.apple.iTunes:MOOD'][0].decode())\n",
                     {out("s.wma.o.m4a")}),
              "calm\n");
    // Nothing is left beside the outputs but the outputs.
    for (const auto& name : FolderEntries(outs))
        EXPECT_NE(name[0], '.') << name;
    std::string note;
    TCoverArt plain;
    plain.Data = Bytes(jpeg);
    EXPECT_TRUE(bw::WriteFrontCover(out("o.mp3"), TCoverTarget::Wma, plain, &note));
    EXPECT_EQ(note, "");
}

TEST_F(CoverFiles, SidecarNamesInOrderAndWithoutLetterCase) {
    const std::string jpeg = AsString(ReadAll(jpeg_));
    const struct {
        std::vector<std::string> files;
        std::string picked; // empty: none
    } cases[] = {
        {{"cover.jpg"}, "cover.jpg"},
        {{"folder.jpg"}, "folder.jpg"},
        {{"front.jpg"}, "front.jpg"},
        {{"cover.png"}, "cover.png"},
        {{"COVER.JPG"}, "COVER.JPG"},
        {{"Folder.Jpg"}, "Folder.Jpg"},
        {{"FRONT.jpg"}, "FRONT.jpg"},
        {{"Cover.PNG"}, "Cover.PNG"},
        {{"cover.png", "front.jpg", "folder.jpg", "cover.jpg"}, "cover.jpg"},
        {{"cover.png", "front.jpg", "FOLDER.JPG"}, "FOLDER.JPG"},
        {{"cover.png", "Front.jpg"}, "Front.jpg"},
        {{"cover.jpeg", "albumart.jpg", "cover.jpg.bak", "back.jpg", "folder.png"}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        SCOPED_TRACE(c.picked);
        const std::string source = MakeMp3(dir, "song.mp3");
        for (const auto& f : c.files)
            WriteText(dir.File(f), f == c.picked ? jpeg : "\x89PNG\r\n\x1A\n" + f);
        std::string why = "unset";
        const auto cover = bw::ReadFrontCover(source, &why);
        EXPECT_EQ(why, "");
        if (c.picked.empty()) {
            EXPECT_FALSE(cover);
            continue;
        }
        ASSERT_TRUE(cover);
        EXPECT_EQ(AsString(cover->Data), jpeg);
        EXPECT_EQ(cover->MimeType, "image/jpeg"); // from the bytes, whatever the name says
    }
    // A picture in the file wins over one beside it.
    TTempDir dir;
    RunOk({"lame", "--quiet", "--ti", png_, wav_, dir.File("s.mp3")});
    WriteText(dir.File("cover.jpg"), jpeg);
    const auto cover = bw::ReadFrontCover(dir.File("s.mp3"), nullptr);
    ASSERT_TRUE(cover);
    EXPECT_EQ(cover->Data, ReadAll(png_));
}

TEST_F(CoverFiles, FlacBlockLimitOnBothSides) {
    RunOk({"flac", "-s", "-T", "TITLE=Title one", wav_, "-o", dir_.File("o.flac")});
    for (const uint32_t blockBytes : {bw::kMaxFlacBlockBytes, bw::kMaxFlacBlockBytes + 1}) {
        SCOPED_TRACE(blockBytes);
        TCoverArt cover;
        cover.MimeType = "image/jpeg";
        cover.Description = "d";
        cover.Data.assign(blockBytes - 32 - cover.MimeType.size() - cover.Description.size(), std::byte{0x5A});
        cover.Data[0] = std::byte{0xFF};
        const std::string path = dir_.File("limit.flac");
        std::filesystem::copy_file(dir_.File("o.flac"), path, std::filesystem::copy_options::overwrite_existing);
        const auto before = ReadAll(path);
        std::string note = "unset";
        ASSERT_TRUE(bw::WriteFrontCover(path, TCoverTarget::Flac, cover, &note));
        if (blockBytes == bw::kMaxFlacBlockBytes) {
            EXPECT_EQ(note, "");
            WriteAll(dir_.File("want.bin"), cover.Data);
            const std::string seen = Python("import sys, mutagen.flac\n"
                                            "f = mutagen.flac.FLAC(sys.argv[1]); p = f.pictures[0]\n"
                                            "print(len(p.write()), p.data == open(sys.argv[2],'rb').read(), f['title'][0])\n",
                                            {path, dir_.File("want.bin")});
            EXPECT_EQ(seen, "16777215 True Title one\n");
            const auto back = bw::ReadFrontCover(path, nullptr);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->Data, cover.Data);
            EXPECT_EQ(FfmpegDecode(path), FfmpegDecode(dir_.File("o.flac")));
        } else {
            EXPECT_EQ(note, "The cover art (16.8 MB) is too large for a FLAC file and was left out.");
            EXPECT_EQ(ReadAll(path), before);
        }
    }
}

// A tag of hand-made bytes: a picture that must be found, or lengths that lie.
TEST(CoverBytes, HandMadeTagsAndLyingLengths) {
    const std::string img = "\xFF\xD8\xFF\xE0 jpeg \xFF\x00 data \xFF";
    auto read = [](const std::string& bytes, std::string* why = nullptr) {
        bw::TMemorySource source(Span(bytes));
        return bw::ReadEmbeddedCover(source, why);
    };
    // Every tag that holds the picture, to be cut at every length at the end.
    std::vector<std::string> valid;
    auto readValid = [&](const std::string& bytes) {
        valid.push_back(bytes);
        return read(bytes);
    };
    auto id3 = [](int version, uint8_t flags, const std::string& frames) {
        return std::string("ID3") + static_cast<char>(version) + '\0' + static_cast<char>(flags) +
               SyncSafe32(static_cast<uint32_t>(frames.size())) + frames + std::string(64, '\xAA');
    };
    auto unsync = [](const std::string& s) {
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            out += s[i];
            if (s[i] == '\xFF' && (i + 1 == s.size() || s[i + 1] == '\0' || (s[i + 1] & 0xE0) == 0xE0))
                out += '\0';
        }
        return out;
    };
    const std::string apic = std::string("\0image/jpeg\0\3\0", 14) + img;
    const std::string pic22 = std::string("\0JPG\3\0", 6) + img;

    // Found: 2.2 PIC, a 2.3 tag unsynchronised as a whole, a 2.4 frame unsynchronised with a
    // data length indicator.
    std::string why;
    auto c = readValid(id3(2, 0, "PIC" + BE32(static_cast<uint32_t>(pic22.size())).substr(1) + pic22));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);
    EXPECT_EQ(c->MimeType, "image/jpeg");
    const std::string frame23 = "APIC" + BE32(static_cast<uint32_t>(apic.size())) + std::string(2, '\0') + apic;
    c = readValid(id3(3, 0x80, unsync(frame23)));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);
    const std::string body24 = BE32(static_cast<uint32_t>(apic.size())) + unsync(apic);
    c = readValid(id3(4, 0, "APIC" + SyncSafe32(static_cast<uint32_t>(body24.size())) + std::string("\0\x03", 2) + body24));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);

    // Refused or broken: no cover, a reason, no crash.
    EXPECT_FALSE(read(id3(3, 0, "APIC" + BE32(static_cast<uint32_t>(apic.size() + 4)) + std::string("\0\x80", 2) +
                               BE32(99) + apic), &why));
    EXPECT_EQ(why, "the ID3v2 picture is compressed or encrypted");
    EXPECT_FALSE(read(id3(3, 0, "APIC" + BE32(0x7FFFFFF0) + std::string(2, '\0') + apic), &why));
    EXPECT_EQ(why, "an ID3v2 frame runs past the end of its tag");
    std::string longTag = id3(3, 0, frame23);
    longTag[7] = 0x7F; // a tag size past the file's end
    EXPECT_FALSE(read(longTag, &why));
    EXPECT_EQ(why, "the ID3v2 tag runs past the end of the file");

    const std::string block = BE32(3) + BE32(10) + "image/jpeg" + BE32(0) + std::string(16, '\0') + BE32(static_cast<uint32_t>(img.size())) + img;
    auto flac = [](const std::string& pictureBlock, uint32_t statedLength) {
        return "fLaC" + std::string("\0\0\0\x22", 4) + std::string(34, '\0') + "\x86" + BE32(statedLength).substr(1) + pictureBlock;
    };
    c = readValid(flac(block, static_cast<uint32_t>(block.size())));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);
    EXPECT_FALSE(read(flac(block, static_cast<uint32_t>(block.size() + 1)), &why));
    EXPECT_EQ(why, "a FLAC picture block runs past the end of the file");
    std::string lying = block;
    lying.replace(lying.size() - img.size() - 4, 4, BE32(0xFFFFFFF0));
    EXPECT_FALSE(read(flac(lying, static_cast<uint32_t>(lying.size())), &why));
    EXPECT_EQ(why, "a picture block's lengths run past its end");

    // An APE item whose length runs past the footer, and a WM/Picture whose size lies.
    const std::string item = "cover.jpg" + std::string(1, '\0') + img;
    auto ape = [&](uint32_t length) {
        const std::string items = LE32(length) + LE32(2) + "Cover Art (Front)" + std::string(1, '\0') + item;
        const std::string footer = "APETAGEX" + LE32(2000) + LE32(static_cast<uint32_t>(items.size() + 32)) + LE32(1) + LE32(0) + std::string(8, '\0');
        return "audio" + items + footer;
    };
    c = readValid(ape(static_cast<uint32_t>(item.size())));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);
    EXPECT_EQ(c->Description, "cover.jpg");
    EXPECT_FALSE(read(ape(static_cast<uint32_t>(item.size() + 1))));
    EXPECT_FALSE(read(ape(0xFFFFFFFFu)));

    auto guid = [](const bw::TGuid& g) { return std::string(g.begin(), g.end()); };
    auto le16 = [](size_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; };
    auto le64 = [&](size_t v) { return LE32(static_cast<uint32_t>(v)) + LE32(0); };
    auto utf16z = [](std::string_view ascii) {
        std::string out;
        for (char ch : ascii)
            out += std::string{ch, '\0'};
        return out + std::string(2, '\0');
    };
    auto asf = [&](uint32_t statedSize) {
        const std::string value = "\x03" + LE32(statedSize) + utf16z("image/jpeg") + utf16z("") + img;
        const std::string name = utf16z("WM/Picture");
        const std::string content = le16(1) + le16(name.size()) + name + le16(1) + le16(value.size()) + value;
        const std::string object = guid(bw::kAsfExtendedContent) + le64(24 + content.size()) + content;
        return guid(bw::kAsfHeaderObject) + le64(30 + object.size()) + LE32(1) + "\x01\x02" + object + "data";
    };
    c = readValid(asf(static_cast<uint32_t>(img.size())));
    ASSERT_TRUE(c);
    EXPECT_EQ(AsString(c->Data), img);
    EXPECT_EQ(c->MimeType, "image/jpeg");
    EXPECT_FALSE(read(asf(static_cast<uint32_t>(img.size() + 1))));
    EXPECT_FALSE(read(asf(0xFFFFFFFFu)));

    // Cut short anywhere, a tag gives the whole picture or none.
    ASSERT_EQ(valid.size(), 6u);
    for (const std::string& bytes : valid) {
        for (size_t n = 0; n < bytes.size(); ++n) {
            const auto cut = read(bytes.substr(0, n));
            if (cut) {
                EXPECT_EQ(AsString(cut->Data), img) << n;
            }
        }
    }
}

// A failed write leaves the output as it was and nothing beside it.
TEST_F(CoverFiles, FailedWritesLeaveTheOutputAlone) {
    TCoverArt cover;
    cover.Data = ReadAll(jpeg_);
    const std::string outs = (dir_.Path() / "out").string();
    std::filesystem::create_directory(outs);
    for (const auto& [name, kind] : {std::pair{"x.flac", TCoverTarget::Flac}, {"x.ogg", TCoverTarget::OggVorbis},
                                     {"x.m4a", TCoverTarget::Mp4}}) {
        SCOPED_TRACE(name);
        const std::string path = outs + "/" + name;
        std::filesystem::copy_file(wav_, path); // not what the name says
        std::string note;
        EXPECT_FALSE(bw::WriteFrontCover(path, kind, cover, &note));
        EXPECT_TRUE(note.starts_with("The cover art could not be written: ")) << note;
        EXPECT_EQ(ReadAll(path), ReadAll(wav_));
    }
    // A real Ogg Vorbis file, but vorbiscomment cannot be started.
    const std::string ogg = outs + "/y.ogg";
    RunOk({"oggenc", "-Q", "-t", "Title", wav_, "-o", ogg});
    const auto before = ReadAll(ogg);
    const std::string path = std::getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    std::string note;
    const bool written = bw::WriteFrontCover(ogg, TCoverTarget::OggVorbis, cover, &note);
    setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(written);
    EXPECT_EQ(note, "The cover art could not be written: cannot start vorbiscomment: No such file or directory");
    EXPECT_EQ(ReadAll(ogg), before);
    EXPECT_EQ(FolderEntries(outs), (std::vector<std::string>{"x.flac", "x.m4a", "x.ogg", "y.ogg"}));
}

} // namespace
