// The option texts of the outside encoders, and the argument vectors started beside
// them: the texts are what the user reads and the presets have always produced, the
// vectors what really runs.

#include "encoders/encoderoptions.h"
#include "encoders/externalencoder.h"
#include "encoders/wavoptions.h"
#include "encoders/wmaoptions.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

using namespace bw;

namespace {

TmyMusicFile Tagged() {
    TmyMusicFile item;
    item.TargetPath = "/music/out file.ogg";
    item.Title = "Title";
    item.Artist = "Artist";
    item.Album = "Album";
    item.Genre = "Rock";
    item.Year = "1999";
    item.Comment = "Note";
    item.Track = 7;
    return item;
}

} // namespace

TEST(Mp3Options, DefaultsAndFullCommandLine) {
    TEncoderOptions o;
    EXPECT_EQ(BuildMp3Options(o.Mp3).Text(), " --cbr -b 128 -m s --resample 44.1 -o");
    TmyMusicFile item;
    item.TargetPath = "/music/a b.mp3";
    const auto line = BuildEncoderCommand(TTargetType::Mp3, "lame", o, item);
    EXPECT_EQ(line.Text(), "lame -  --cbr -b 128 -m s --resample 44.1 -o \"/music/a b.mp3\"");
    EXPECT_EQ(line.Argv(), (std::vector<std::string>{"lame", "-", "--cbr", "-b", "128", "-m", "s",
                                                     "--resample", "44.1", "-o", "/music/a b.mp3"}));
}

TEST(Mp3Options, VbrFlagsChannelsAndRates) {
    TMp3Options o;
    o.CBR = false;
    o.VBR = true;
    o.TrackBar1 = 9;
    o.VBRMin = 0;
    o.VBRMax = 13;
    o.HQ = true; // not read in VBR mode
    EXPECT_EQ(BuildMp3Options(o).Text(), " -b 32 -B 320 -V 0 -m s --resample 44.1 -o");
    EXPECT_EQ(Mp3QualityLabel(o), "0");

    TMp3Options c;
    c.HQ = true;
    c.Original = true;
    c.Copyright = true;
    c.CRC = true;
    c.Channels = 4;
    c.Samplerate = 2;
    c.CBRBitrate = 13;
    EXPECT_EQ(BuildMp3Options(c).Text(), " --cbr -b 320 -h -m m --resample 32 -c -p");
    c.Channels = 1;
    c.Samplerate = 0;
    EXPECT_EQ(BuildMp3Options(c).Text(), " --cbr -b 320 -h -m j --resample 48 -c -p");

    // A list with no selection gives "40"; so does any index past the list.
    c.CBRBitrate = -1;
    EXPECT_EQ(BuildMp3Options(c).Text().substr(0, 13), " --cbr -b 40 ");
}

// The bitrate list of the MP3 and OGG pages is lame's own list of MPEG-1 layer III bitrates,
// as its long help prints it, entry by entry; one step past either end selects nothing.
TEST(Mp3Options, BitrateListIsLamesMpeg1List) {
    const std::string help = bwtest::RunOk({"lame", "--longhelp"});
    const std::string label = "bitrates (kbps):";
    const size_t list = help.find(label, help.find("MPEG-1 "));
    ASSERT_NE(list, std::string::npos) << help;
    const size_t from = list + label.size();
    std::istringstream rates(help.substr(from, help.find('\n', from) - from));
    int entries = 0;
    for (std::string rate; rates >> rate; ++entries)
        EXPECT_EQ(BitrateFromIndex(entries), rate) << "entry " << entries;
    EXPECT_EQ(entries, kBitrateCount);
    EXPECT_EQ(BitrateFromIndex(-1), "40");
    EXPECT_EQ(BitrateFromIndex(kBitrateCount), "40");
}

TEST(OggOptions, DefaultsCarryOutputTagsAndTheDash) {
    TEncoderOptions o;
    const auto line = BuildEncoderCommand(TTargetType::Ogg, "oggenc", o, Tagged());
    EXPECT_EQ(line.Text(),
              "oggenc  --resample 44100 -q 4 -o \"/music/out file.ogg\" -t \"Title\" -a \"Artist\" "
              "-l \"Album\" -G \"Rock\" -N \"7\" -d \"1999\" -c \"Comment=Note\" -");
    EXPECT_EQ(line.Argv(),
              (std::vector<std::string>{"oggenc", "--resample", "44100", "-q", "4", "-o",
                                        "/music/out file.ogg", "-t", "Title", "-a", "Artist", "-l",
                                        "Album", "-G", "Rock", "-N", "7", "-d", "1999", "-c",
                                        "Comment=Note", "-"}));
}

TEST(OggOptions, MonoQualityAndBitrateManager) {
    TOggOptions o;
    o.OGGChannels = 1;
    o.OGGSamplerate = 4;
    o.TrackBar2 = -1;
    TmyMusicFile item;
    EXPECT_EQ(BuildOggOptions(o, item).Text().rfind(" --downmix --resample 22050 -q -1 -o ", 0), 0u);

    o = TOggOptions{};
    o.OGGQ = false;
    o.BitrateManager = true;
    o.OGGNominal = 6;
    EXPECT_EQ(BuildOggOptions(o, item).Text().rfind(" --resample 44100 -b 96 -o ", 0), 0u);
    // The minimum is not checked against the maximum.
    o.OGGVBR = true;
    o.OGGMin = 13;
    o.OGGMax = 0;
    EXPECT_EQ(BuildOggOptions(o, item).Text().rfind(" --resample 44100 -b 96 -m 320 -M 32 -o ", 0),
              0u);
    // Track 0 is passed as "0".
    EXPECT_NE(BuildOggOptions(o, item).Text().find(" -N \"0\" "), std::string::npos);
}

// The estimate at every slider position and every rate of the list (and with no rate
// selected: the reference rate) against exact arithmetic: the nominal kbps of the position
// scaled by rate / 44100, halves to even (position -1 at 22050 Hz is 22.5: "~22").
TEST(OggOptions, EstimateFollowsSliderAndRate) {
    std::istringstream expected(bwtest::RunOk(
        {"/usr/bin/python3", "-c",
         "from fractions import Fraction\n"
         "kbps = [45, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 500]\n"
         "rates = [48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 44100]\n"
         "for q, k in enumerate(kbps):\n"
         "    for r in rates:\n"
         "        print(f'{q - 1} (~{round(Fraction(k * r, 44100))} kbps)')\n"}));
    TOggOptions o;
    for (o.TrackBar2 = kOggMinQuality; o.TrackBar2 <= kOggMaxQuality; ++o.TrackBar2) {
        for (o.OGGSamplerate = 0; o.OGGSamplerate <= kOggSamplerateCount; ++o.OGGSamplerate) {
            std::string label;
            ASSERT_TRUE(std::getline(expected, label));
            EXPECT_EQ(OggQualityLabel(o), label) << "rate " << OggSamplerateText(o.OGGSamplerate);
        }
    }
}

TEST(FlacOptions, DefaultsLevelZeroAndEmptyTags) {
    TEncoderOptions o;
    auto item = Tagged();
    item.TargetPath = "/music/x.flac";
    EXPECT_EQ(BuildEncoderCommand(TTargetType::Flac, "flac", o, item).Text(),
              "flac -f -5 --lax -T Title=\"Title\" -T Artist=\"Artist\" -T Album=\"Album\" "
              "-T Comment=\"Note\" -T Date=\"1999\" -T TrackNumber=\"7\" -T Genre=\"Rock\" "
              "-o \"/music/x.flac\" -");
    o.Flac.FLACMyTrackBar = 0;
    o.Flac.FLACLax = false;
    TmyMusicFile empty;
    const auto line = BuildFlacOptions(o.Flac, empty);
    EXPECT_EQ(line.Text().rfind("-f -0 -T Title=\"\" -T Artist=\"\"", 0), 0u);
    // An empty value is still its own argument.
    EXPECT_EQ(line.Argv()[2], "-T");
    EXPECT_EQ(line.Argv()[3], "Title=");
}

TEST(MpcOptions, ProfilesAndDefaults) {
    TEncoderOptions o;
    auto item = Tagged();
    item.TargetPath = "/music/x.mpc";
    EXPECT_EQ(BuildEncoderCommand(TTargetType::Mpc, "mpcenc", o, item).Text(),
              "mpcenc --overwrite --standard --tag Title=\"Title\" --tag Artist=\"Artist\" "
              "--tag Album=\"Album\" --tag Comment=\"Note\" --tag Year=\"1999\" --tag Track=\"7\" "
              "--tag Genre=\"Rock\" - \"/music/x.mpc\"");
    o.Mpc.MPCMyTrackBar = 1;
    EXPECT_EQ(BuildMpcOptions(o.Mpc, item).Text().rfind("--telephone --tag", 0), 0u);
    o.Mpc.MPCMyTrackBar = 7;
    EXPECT_EQ(BuildMpcOptions(o.Mpc, item).Text().rfind("--braindead --tag", 0), 0u);
    EXPECT_EQ(MpcProfileText(4), "Standard - high quality (typ. 142...184 kbps)");
    EXPECT_EQ(MpcProfileText(1), "Telephone - lowest quality, (typ. 32...48 kbps)");
    EXPECT_EQ(MpcProfileText(0), "");
    EXPECT_EQ(MpcProfileText(8), "");
    // mpcenc's four rates: every source rate goes to the nearest at or above it.
    for (const auto& [source, taken] : std::vector<std::pair<int, int>>{
             {8000, 32000}, {22050, 32000}, {31999, 32000}, {32000, 32000}, {32001, 37800}, {37800, 37800},
             {37801, 44100}, {44100, 44100}, {44101, 48000}, {48000, 48000}, {48001, 48000}, {96000, 48000}})
        EXPECT_EQ(MpcSampleRate(source), taken) << source;
}

// Whatever a tag or path holds reaches the encoder as one argument of exactly that text:
// the text shows it inside quotes, unescaped, but nothing in it can split or extend the
// command.
TEST(EncoderCommand, HostileValuesStayOneArgumentEach) {
    TEncoderOptions o;
    TmyMusicFile item;
    item.Title = "say \"hi\" $(rm -rf ~) `id`";
    item.Artist = "-V 9";
    item.Album = "a b  c";
    item.Comment = "x\" -o \"/tmp/evil";
    item.TargetPath = "/music/we \"ird\" $HOME.ogg";
    const auto ogg = BuildEncoderCommand(TTargetType::Ogg, "oggenc", o, item);
    const auto& a = ogg.Argv();
    const auto after = [&a](const std::string& sw) {
        for (size_t i = 0; i + 1 < a.size(); ++i)
            if (a[i] == sw)
                return a[i + 1];
        return std::string("<missing>");
    };
    EXPECT_EQ(after("-t"), item.Title);
    EXPECT_EQ(after("-a"), item.Artist);
    EXPECT_EQ(after("-l"), item.Album);
    EXPECT_EQ(after("-c"), "Comment=" + item.Comment);
    EXPECT_EQ(after("-o"), item.TargetPath);
    EXPECT_EQ(a.size(), 22u);
    EXPECT_NE(ogg.Text().find("-t \"say \"hi\" $(rm -rf ~) `id`\""), std::string::npos);

    const auto flac = BuildEncoderCommand(TTargetType::Flac, "flac", o, item);
    EXPECT_EQ(flac.Argv()[5], "Title=" + item.Title);
    EXPECT_EQ(flac.Argv()[7], "Artist=-V 9");
    EXPECT_EQ(flac.Argv().size(), 21u);

    // A program folder with a space stays one word.
    const auto mpc = BuildEncoderCommand(TTargetType::Mpc, "/opt/my tools/mpcenc", o, item);
    EXPECT_EQ(mpc.Argv().front(), "/opt/my tools/mpcenc");
    EXPECT_EQ(mpc.Argv().back(), item.TargetPath);
}

TEST(EncoderOptionNames, SetEveryControlByItsPresetName) {
    TEncoderOptions o;
    std::string error;
    EXPECT_TRUE(SetEncoderOption(o, "MP3BitRate", "10", &error));
    EXPECT_EQ(o.Mp3.CBRBitrate, 10);
    // One radio button of a pair clears the other, as on the page.
    EXPECT_TRUE(SetEncoderOption(o, "MP3VBR", "1", &error));
    EXPECT_TRUE(o.Mp3.VBR);
    EXPECT_FALSE(o.Mp3.CBR);
    EXPECT_TRUE(SetEncoderOption(o, "OGGBitrateManager", "1", &error));
    EXPECT_FALSE(o.Ogg.OGGQ);
    EXPECT_TRUE(SetEncoderOption(o, "OGGQualitySel", "-1", &error));
    EXPECT_EQ(o.Ogg.TrackBar2, -1);
    EXPECT_TRUE(SetEncoderOption(o, "FLACLax", "0", &error));
    EXPECT_FALSE(o.Flac.FLACLax);
    EXPECT_TRUE(SetEncoderOption(o, "MPCMyTrackBar", "7", &error));
    EXPECT_EQ(o.Mpc.MPCMyTrackBar, 7);

    EXPECT_FALSE(SetEncoderOption(o, "MP3BitRate", "14", &error));
    EXPECT_NE(error.find("from 0 to 13"), std::string::npos);
    EXPECT_FALSE(SetEncoderOption(o, "MPCMyTrackBar", "0", &error));
    EXPECT_FALSE(SetEncoderOption(o, "FLACMyTrackBar", "5x", &error));
    EXPECT_FALSE(SetEncoderOption(o, "Mp3BitRate", "1", &error));
    EXPECT_NE(error.find("unknown"), std::string::npos);
    EXPECT_FALSE(SetEncoderOption(o, "APEMyTrackBar", "5", &error));
    EXPECT_NE(error.find("from 1 to 4"), std::string::npos);
    EXPECT_TRUE(SetEncoderOption(o, "WMABitrate", "4", &error));
    EXPECT_EQ(o.Wma.WMABitrate, 4);
    EXPECT_TRUE(SetEncoderOption(o, "WAVNormalize", "1", &error));
    EXPECT_TRUE(o.Wav.cbNormalize);
    EXPECT_EQ(o.Mp3.CBRBitrate, 10); // a refused value changes nothing
    EXPECT_EQ(EncoderOptionNames().size(), 40u);
}

// Each control of the WavPack and Opus pages, as the argument vector the encoder is started
// with: the page's defaults first, then one control changed per row.
TEST(EncoderCommand, WavPackAndOpusPagesReachTheirEncoders) {
    const std::vector<std::string> opusTags{"--title", "Title", "--artist", "Artist", "--album", "Album",
                                            "--genre", "Rock", "--date", "1999", "--tracknumber", "7",
                                            "--comment", "COMMENT=Note"};
    struct TCase {
        TTargetType Target;
        std::vector<std::pair<const char*, int>> Set;
        std::vector<std::string> Switches; // between the program and the input's "-"
        std::string Picture;
    };
    const std::vector<TCase> cases{
        {TTargetType::WavPack, {}, {"-q", "-y", "-i"}, ""},
        {TTargetType::WavPack, {{"WVMode", 0}}, {"-q", "-y", "-i", "-f"}, ""},
        {TTargetType::WavPack, {{"WVMode", 2}}, {"-q", "-y", "-i", "-h"}, ""},
        {TTargetType::WavPack, {{"WVMode", 3}, {"WVCorrection", 1}}, {"-q", "-y", "-i", "-hh"}, ""},
        {TTargetType::WavPack, {{"WVHybrid", 1}}, {"-q", "-y", "-i", "-b4.0"}, ""},
        {TTargetType::WavPack, {{"WVHybrid", 1}, {"WVBits", 20}, {"WVCorrection", 1}}, {"-q", "-y", "-i", "-b2.0", "-c"}, ""},
        {TTargetType::WavPack, {{"WVHybrid", 1}, {"WVBits", 239}}, {"-q", "-y", "-i", "-b23.9"}, ""},
        {TTargetType::Opus, {}, {"--quiet", "--bitrate", "128", "--vbr", "--comp", "10"}, ""},
        {TTargetType::Opus, {{"OPUSBitrate", 6}, {"OPUSMode", 1}}, {"--quiet", "--bitrate", "6", "--cvbr", "--comp", "10"}, ""},
        {TTargetType::Opus, {{"OPUSBitrate", 256}, {"OPUSMode", 2}, {"OPUSComplexity", 0}},
         {"--quiet", "--bitrate", "256", "--hard-cbr", "--comp", "0"}, "/a|b/.bw-1-2.cover"},
    };
    for (const auto& c : cases) {
        TEncoderOptions o;
        for (const auto& [name, value] : c.Set)
            ASSERT_TRUE(SetEncoderOption(o, name, std::to_string(value), nullptr)) << name;
        auto item = Tagged();
        item.TargetPath = "/music/out" + TargetExtension(c.Target);
        std::vector<std::string> expected{EncoderProgram(c.Target)};
        expected.insert(expected.end(), c.Switches.begin(), c.Switches.end());
        if (c.Target == TTargetType::Opus) {
            expected.insert(expected.end(), opusTags.begin(), opusTags.end());
            if (!c.Picture.empty())
                expected.insert(expected.end(), {"--picture", "3||||" + c.Picture});
            expected.insert(expected.end(), {"-", item.TargetPath});
        } else {
            expected.insert(expected.end(), {"-", "-o", item.TargetPath});
        }
        EXPECT_EQ(BuildEncoderCommand(c.Target, EncoderProgram(c.Target), o, item, c.Picture).Argv(), expected)
            << TargetName(c.Target) << " " << c.Set.size();
    }
}

// The resampler's command line, and the WMA bitrate lists for every rate and channel count
// of the page, with the entry texts the page shows and what they parse back to.
TEST(OptionBuilders, ResamplerLineAndWmaBitrateLists) {
    EXPECT_EQ(BuildResampleCommand("/opt/bw/brindlewave-resample", 48000, 16, false, "/tmp/a b/temp2.wav",
                                   "/music/$(x).wav")
                  .Text(),
              "/opt/bw/brindlewave-resample --rate 48000 --bits 16 \"/tmp/a b/temp2.wav\" \"/music/$(x).wav\"");
    const auto normalized = BuildResampleCommand("r", 8000, 8, true, "in", "out");
    EXPECT_EQ(normalized.Text(), "r --rate 8000 --bits 8 --normalize \"in\" \"out\"");
    EXPECT_EQ(normalized.Argv(),
              (std::vector<std::string>{"r", "--rate", "8000", "--bits", "8", "--normalize", "in", "out"}));

    // Highest offered kbps, and how many entries, for mono and stereo at each rate.
    const std::vector<std::tuple<int, int, int, int, int>> lists{
        {48000, 160, 9, 320, 12}, {44100, 160, 9, 320, 12}, {32000, 96, 7, 192, 10},
        {22050, 80, 6, 160, 9},   {16000, 48, 4, 96, 7},    {8000, 24, 1, 48, 4}};
    ASSERT_EQ(lists.size(), kWmaSamplerates.size());
    for (size_t i = 0; i < lists.size(); ++i) {
        const auto [rate, monoTop, monoCount, stereoTop, stereoCount] = lists[i];
        EXPECT_EQ(std::to_string(rate), kWmaSamplerates[i]);
        for (const int channels : {1, 2}) {
            const auto entries = WmaBitrateEntries(rate, channels);
            const int top = channels == 1 ? monoTop : stereoTop;
            ASSERT_EQ(static_cast<int>(entries.size()), channels == 1 ? monoCount : stereoCount)
                << rate << " Hz, " << channels << " channels";
            EXPECT_EQ(entries.front(), std::to_string(top) + " kbps");
            EXPECT_EQ(entries.back(), "24 kbps");
            for (const auto& e : entries)
                EXPECT_LE(ParseKbps(e) * 4.4, rate * channels * 16.0) << e;
        }
    }
    // "CD Quality" picks the fifth entry of 44100 Hz stereo.
    EXPECT_EQ(WmaBitrate({1, 1, 4}), 128000);
    EXPECT_EQ(WmaBitrate({0, 0, 0}), 320000); // 48000 Hz is stereo whatever the list says
    EXPECT_EQ(WmaBitrate({5, 0, 1}), 0);      // past the one entry of 8000 Hz mono
    EXPECT_EQ(ParseKbps(""), 0);
    EXPECT_EQ(ParseKbps(" kbps"), 0);
    EXPECT_EQ(ParseKbps("24 kbps"), 24000);
}

// Every value name reads back what was set at both ends of its range, as a preset stores it;
// setting one radio button of a pair reads back on its partner.
TEST(OptionBuilders, EveryValueNameReadsBackWhatWasSet) {
    for (const std::string& name : EncoderOptionNames()) {
        const auto range = EncoderOptionRange(name);
        ASSERT_TRUE(range) << name;
        for (const int v : {range->first, range->second}) {
            TEncoderOptions o;
            std::string error;
            ASSERT_TRUE(SetEncoderOption(o, name, std::to_string(v), &error)) << name << ": " << error;
            EXPECT_EQ(EncoderOptionValue(o, name), v) << name;
        }
    }
    TEncoderOptions o;
    SetEncoderOption(o, "OGGBitrateManager", "1", nullptr);
    EXPECT_EQ(EncoderOptionValue(o, "OGGQuality"), 0);
    SetEncoderOption(o, "MP3VBR", "1", nullptr);
    EXPECT_EQ(EncoderOptionValue(o, "MP3CBR"), 0);
    EXPECT_FALSE(EncoderOptionValue(o, "Name"));
    EXPECT_EQ(EncoderOptionNames().front(), "MP3SampleRate");
    EXPECT_EQ(EncoderOptionNames()[30], "APEMyTrackBar");
}
