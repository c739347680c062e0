#include "core/genrelist.h"

#include "common/asciicase.h"

namespace bw {

namespace {

// Filled from one text of quoted names, as the list has always been kept. Six names keep
// this program's own spellings (40, 59, 67, 81, 123, 141); files written by earlier
// versions carry them, so they stay.
constexpr std::string_view kGenreText =
    R"("Blues","Classic Rock","Country","Dance","Disco","Funk","Grunge","Hip-Hop","Jazz",)"
    R"("Metal","New Age","Oldies","Other","Pop","R&B","Rap","Reggae","Rock","Techno",)"
    R"("Industrial","Alternative","Ska","Death Metal","Pranks","Soundtrack","Euro-Techno",)"
    R"("Ambient","Trip-Hop","Vocal","Jazz+Funk","Fusion","Trance","Classical","Instrumental",)"
    R"("Acid","House","Game","Sound Clip","Gospel","Noise","Alt. Rock","Bass","Soul","Punk",)"
    R"("Space","Meditative","Instrumental Pop","Instrumental Rock","Ethnic","Gothic",)"
    R"("Darkwave","Techno-Industrial","Electronic","Pop-Folk","Eurodance","Dream",)"
    R"("Southern Rock","Comedy","Cult","Gangsta Rap","Top 40","Christian Rap","Pop/Funk",)"
    R"("Jungle","Native American","Cabaret","New Wave","Psychedelic","Rave","Showtunes",)"
    R"("Trailer","Lo-Fi","Tribal","Acid Punk","Acid Jazz","Polka","Retro","Musical",)"
    R"("Rock & Roll","Hard Rock","Folk","Folk/Rock","National Folk","Swing","Fast Fusion",)"
    R"("Bebob","Latin","Revival","Celtic","Bluegrass","Avantgarde","Gothic Rock",)"
    R"("Progressive Rock","Psychedelic Rock","Symphonic Rock","Slow Rock","Big Band",)"
    R"("Chorus","Easy Listening","Acoustic","Humour","Speech","Chanson","Opera",)"
    R"("Chamber Music","Sonata","Symphony","Booty Bass","Primus","Porn Groove","Satire",)"
    R"("Slow Jam","Club","Tango","Samba","Folklore","Ballad","Power Ballad","Rhythmic Soul",)"
    R"("Freestyle","Duet","Punk Rock","Drum Solo","A Cappella","Euro-House","Dance Hall",)"
    R"("Goa","Drum & Bass","Club-House","Hardcore","Terror","Indie","BritPop","Negerpunk",)"
    R"("Polsk Punk","Beat","Christian Gangsta Rap","Heavy Metal","Black Metal","Crossover",)"
    R"("Contemporary Christian","Cristian Rock","Merengue","Salsa","Thrash Metal","Anime",)"
    R"("JPop","Synthpop")";

} // namespace

TGenreList::TGenreList() {
    names_.reserve(kCount);
    size_t pos = 0;
    while (pos < kGenreText.size()) {
        const size_t open = kGenreText.find('"', pos);
        if (open == std::string_view::npos)
            break;
        const size_t close = kGenreText.find('"', open + 1);
        if (close == std::string_view::npos)
            break;
        names_.emplace_back(kGenreText.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
}

const std::string& TGenreList::Name(int genreByte) const {
    if (genreByte < 0 || genreByte >= Count())
        return names_[kOther];
    return names_[static_cast<size_t>(genreByte)];
}

int TGenreList::IndexOf(std::string_view name) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (EqualsIgnoringAsciiCase(names_[i], name))
            return static_cast<int>(i);
    return -1;
}

int TGenreList::ByteFor(std::string_view name) const {
    const int i = IndexOf(name);
    return i < 0 ? kUnknownByte : i;
}

const TGenreList& GenreList() {
    static const TGenreList list;
    return list;
}

} // namespace bw
