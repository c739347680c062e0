#include "cli/tagscommand.h"

#include "common/json.h"
#include "shell/folderscan.h"
#include "tags/apetag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/tagsource.h"

namespace bw {

namespace {

std::string ID3v1Json(const TID3v1& t) {
    TJsonObject o;
    o.Add("Present", t.Present())
        .Add("Revision", static_cast<int>(t.Revision()))
        .Add("Title", t.Title())
        .Add("Artist", t.Artist())
        .Add("Album", t.Album())
        .Add("Year", t.Year())
        .Add("Comment", t.Comment())
        .Add("Track", static_cast<int>(t.Track()))
        .Add("GenreIndex", static_cast<int>(t.GenreIndex()))
        .Add("LyricsPresent", t.LyricsPresent())
        .Add("LyricsSize", static_cast<int>(t.LyricsSize()))
        .Add("ExtTitle", t.ExtTitle())
        .Add("ExtArtist", t.ExtArtist())
        .Add("ExtAlbum", t.ExtAlbum())
        .Add("ExtComment", t.ExtComment())
        .Add("Author", t.Author())
        .Add("Lyrics", t.Lyrics())
        .Add("Image", t.Image());
    return o.Str();
}

std::string ID3v2Json(const TID3v2& t) {
    TJsonObject o;
    o.Add("Present", t.Present())
        .Add("VersionID", static_cast<int>(t.VersionID()))
        .Add("Size", static_cast<int>(t.Size()))
        .Add("Title", t.Title())
        .Add("Artist", t.Artist())
        .Add("Album", t.Album())
        .Add("Track", static_cast<int>(t.Track()))
        .Add("TrackText", t.TrackText())
        .Add("Year", t.Year())
        .Add("Genre", t.Genre())
        .Add("Comment", t.Comment())
        .Add("Composer", t.Composer())
        .Add("Encoder", t.Encoder())
        .Add("Copyright", t.Copyright())
        .Add("Language", t.Language())
        .Add("Link", t.Link());
    return o.Str();
}

std::string APETagJson(const TAPETag& t) {
    std::string items = "[";
    for (size_t i = 0; i < t.Items().size(); ++i) {
        const auto& [name, value] = t.Items()[i];
        const TAPETag::TItemInfo& info = t.ItemInfos()[i];
        if (items.size() > 1)
            items += ',';
        items += '[';
        AppendJsonString(items, name);
        items += ',';
        // Binary data (a cover picture) is no text: shown as text it would be Latin-1 noise.
        if (info.Kind == TAPETag::EItemKind::Binary)
            items += TJsonObject().Add("binary", int64_t{info.Length}).Str();
        else
            AppendJsonString(items, value);
        items += ']';
    }
    items += ']';
    TJsonObject o;
    o.Add("Present", t.Present())
        .Add("Version", static_cast<int>(t.Version()))
        .Add("Size", static_cast<int>(t.Size()))
        .AddRaw("Items", items);
    return o.Str();
}

} // namespace

TCliCommand TagsCliCommand() {
    return {"tags",
            {"tags FILE..."},
            "the ID3v1, ID3v2 and APE tags of each file, one JSON object a line",
            "Reads the ID3v1, ID3v2 and APE tags of each file as the tag classes see them and "
            "prints them, one JSON object a line in the order given; a file that cannot be read "
            "gets a line with its \"error\".",
            {"tags song.mp3", "tags album/*.ape"},
            [] { return std::vector<TCliOption>{}; },
            [](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
                return RunTagsCommand(args, out, err);
            }};
}

int RunTagsCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    if (std::string error; !ParseCliOptions({}, args, files, error)) {
        err << "brindlewave-cli tags: " << error << "\n";
        return 2;
    }
    int status = 0;
    for (const std::string& named : files) {
        const std::string path = CommandLinePath(named);
        TJsonObject line;
        line.Add("File", path);
        // Each class reads on its own; a file too short for one of them simply has no such tag.
        TFileSource source;
        if (!source.Open(path)) {
            line.Add("error", source.LastError());
            err << source.LastError() << '\n';
            status = 1;
        } else {
            TID3v1 id3v1;
            TID3v2 id3v2;
            TAPETag ape;
            id3v1.Load(source);
            id3v2.Load(source);
            ape.Load(source);
            line.AddRaw("ID3v1", ID3v1Json(id3v1)).AddRaw("ID3v2", ID3v2Json(id3v2)).AddRaw("APETag", APETagJson(ape));
        }
        out << line.Str() << '\n';
    }
    out.flush();
    return status;
}

} // namespace bw
