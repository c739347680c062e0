#include "tags/mp4tags.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "tags/tagfile.h"
#include "tags/tagsource.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>

namespace bw {

namespace {

// A file of more top-level atoms than this is refused as broken rather than walked.
constexpr size_t kMaxTopAtoms = 100000;
// The bytes in front of a movie header that lies before the audio and grows: they are
// copied through memory (ftyp and the like, a few dozen bytes in practice).
constexpr uint64_t kMaxBytesBeforeMovie = 16 * 1024 * 1024;

// One atom: where its header starts, its whole size and the size of its header (8, or 16
// with a 64-bit size), in the offsets of the range it was found in.
struct TAtom {
    uint64_t Start = 0;
    uint64_t Size = 0;
    uint32_t Header = 8;
    std::string Type;
    uint64_t Body() const { return Start + Header; }
    uint64_t End() const { return Start + Size; }
};

// The atom whose header begins head (8 to 16 bytes) at offset pos of a range that ends at
// end. Nothing when its size does not fit there. A size of 0 means "to the end".
std::optional<TAtom> ParseHeader(std::span<const std::byte> head, uint64_t pos, uint64_t end) {
    TByteReader r(head);
    TAtom atom;
    atom.Start = pos;
    uint64_t size = r.U32BE();
    atom.Type = r.Text(4);
    if (size == 1) {
        size = r.U64BE();
        atom.Header = 16;
    } else if (size == 0) {
        size = end - pos;
    }
    if (r.Failed() || size < atom.Header || size > end - pos)
        return std::nullopt;
    atom.Size = size;
    return atom;
}

// The atoms of data[from, to), in their order; nothing when one of them runs past the end.
// Fewer than eight bytes left at the end (a terminator some writers add) end the walk.
std::optional<std::vector<TAtom>> Children(std::span<const std::byte> data, uint64_t from,
                                           uint64_t to) {
    std::vector<TAtom> atoms;
    for (uint64_t pos = from; to - pos >= 8;) {
        const auto atom = ParseHeader(data.subspan(pos, std::min<uint64_t>(16, to - pos)), pos, to);
        if (!atom)
            return std::nullopt;
        atoms.push_back(*atom);
        pos = atom->End();
    }
    return atoms;
}

const TAtom* FindAtom(const std::vector<TAtom>& atoms, std::string_view type) {
    const auto it =
        std::find_if(atoms.begin(), atoms.end(), [&](const TAtom& a) { return a.Type == type; });
    return it == atoms.end() ? nullptr : &*it;
}

// Where the children of a meta atom begin: after its version and flags, except in the
// QuickTime form, which has none (its handler follows the header at once).
uint64_t MetaChildren(std::span<const std::byte> data, const TAtom& meta) {
    if (meta.End() - meta.Body() >= 8 && std::memcmp(data.data() + meta.Body() + 4, "hdlr", 4) == 0)
        return meta.Body();
    return std::min(meta.Body() + 4, meta.End());
}

// The top-level atoms of a file.
bool WalkFile(TTagSource& source, std::vector<TAtom>& atoms, std::string& error) {
    const uint64_t size = source.Size();
    std::vector<std::byte> head;
    for (uint64_t pos = 0; size - pos >= 8;) {
        if (atoms.size() >= kMaxTopAtoms) {
            error = "the file holds too many atoms to be an MP4 file";
            return false;
        }
        if (!source.Read(pos, 16, head)) {
            error = "the file cannot be read";
            return false;
        }
        const auto atom = ParseHeader(head, pos, size);
        if (!atom) {
            error = "the atom at byte " + std::to_string(pos) + " runs past the end of the file";
            return false;
        }
        atoms.push_back(*atom);
        pos = atom->End();
    }
    return true;
}

// ---- The sound track ------------------------------------------------------------------

// The length of an MPEG-4 descriptor (tag, then 1..4 bytes of 7 bits each).
uint32_t DescriptorLength(TByteReader& r) {
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
        const uint8_t b = r.U8();
        length = (length << 7) | (b & 0x7F);
        if ((b & 0x80) == 0)
            break;
    }
    return length;
}

// Fills rate, channels and bit rate from an esds atom's body when it describes AAC-LC;
// false for any other audio object type (HE-AAC decodes at another rate than it states).
bool ReadEsds(std::span<const std::byte> body, TMp4Audio& audio) {
    static constexpr std::array<uint32_t, 13> kRates{96000, 88200, 64000, 48000, 44100, 32000,
                                                     24000, 22050, 16000, 12000, 11025, 8000, 7350};
    TByteReader r(body);
    r.Skip(4); // version and flags
    if (r.U8() != 0x03)
        return false;
    DescriptorLength(r);
    r.Skip(2); // ES id
    const uint8_t flags = r.U8();
    if (flags & 0x80)
        r.Skip(2); // depends on
    if (flags & 0x40)
        r.Skip(r.U8()); // URL
    if (flags & 0x20)
        r.Skip(2); // OCR stream
    if (r.U8() != 0x04)
        return false;
    DescriptorLength(r);
    const uint8_t objectType = r.U8();
    r.Skip(1 + 3 + 4); // stream type, buffer size, maximum bit rate
    const uint32_t average = r.U32BE();
    if (r.U8() != 0x05 || objectType != 0x40) // MPEG-4 audio
        return false;
    DescriptorLength(r);
    // AudioSpecificConfig: 5 bits of object type, 4 of rate index, 4 of channel layout.
    const uint16_t config = r.U16BE();
    const int aot = config >> 11, rateIndex = (config >> 7) & 0x0F, layout = (config >> 3) & 0x0F;
    if (r.Failed() || aot != 2 || rateIndex >= static_cast<int>(kRates.size()))
        return false;
    audio.SampleRate = kRates[static_cast<size_t>(rateIndex)];
    if (layout >= 1 && layout <= 6)
        audio.Channels = static_cast<uint16_t>(layout);
    else if (layout == 7)
        audio.Channels = 8;
    audio.BitRate = average;
    return true;
}

// The sound track of a movie holding exactly one track; an empty Codec otherwise.
TMp4Audio ReadAudio(std::span<const std::byte> data, const std::vector<TAtom>& moovKids) {
    const auto kids = [&](const TAtom* a, uint64_t skip = 0) {
        return a && a->End() - a->Body() >= skip ? Children(data, a->Body() + skip, a->End())
                                                 : std::nullopt;
    };
    const auto body = [&](const TAtom& a) { return data.subspan(a.Body(), a.End() - a.Body()); };
    if (std::count_if(moovKids.begin(), moovKids.end(), [](const TAtom& a) { return a.Type == "trak"; }) != 1)
        return {};
    const TAtom* mvhd = FindAtom(moovKids, "mvhd");
    const auto trak = kids(FindAtom(moovKids, "trak"));
    const auto mdia = trak ? kids(FindAtom(*trak, "mdia")) : std::nullopt;
    const TAtom* hdlr = mdia ? FindAtom(*mdia, "hdlr") : nullptr;
    const TAtom* mdhd = mdia ? FindAtom(*mdia, "mdhd") : nullptr;
    const auto minf = mdia ? kids(FindAtom(*mdia, "minf")) : std::nullopt;
    const auto stbl = minf ? kids(FindAtom(*minf, "stbl")) : std::nullopt;
    const TAtom* stsd = stbl ? FindAtom(*stbl, "stsd") : nullptr;
    if (!mvhd || !hdlr || !mdhd || !stsd)
        return {};
    TByteReader handler(body(*hdlr));
    handler.Skip(8); // version, flags, pre-defined
    if (handler.Text(4) != "soun")
        return {};

    // Durations: the movie's time scale for the edit list, the media's for the media.
    const auto timing = [](TByteReader r) {
        const bool wide = r.U8() == 1;
        r.Skip(3 + (wide ? 16 : 8)); // flags, creation and modification times
        const uint32_t scale = r.U32BE();
        const uint64_t duration = wide ? r.U64BE() : r.U32BE();
        return std::pair{r.Failed() ? 0u : scale, duration};
    };
    const uint32_t movieScale = timing(TByteReader(body(*mvhd))).first;
    const auto [mediaScale, mediaDuration] = timing(TByteReader(body(*mdhd)));
    if (mediaScale == 0 || mediaDuration == 0)
        return {};
    TMp4Audio audio;
    audio.Duration = static_cast<double>(mediaDuration) / mediaScale;
    // An edit list of one edit plays part of the media: its length is the playing length.
    const auto edts = kids(FindAtom(*trak, "edts"));
    if (const TAtom* elst = edts ? FindAtom(*edts, "elst") : nullptr; elst && movieScale > 0) {
        TByteReader r(body(*elst));
        const bool wide = r.U8() == 1;
        r.Skip(3);
        const uint32_t count = r.U32BE();
        const uint64_t segment = wide ? r.U64BE() : r.U32BE();
        if (!r.Failed() && count == 1 && segment > 0)
            audio.Duration = static_cast<double>(segment) / movieScale;
    }

    // The first sample description: a sound entry (28 bytes of the QuickTime version 0
    // layout) followed by its codec's own atom.
    const auto entries = kids(stsd, 8);
    if (!entries || entries->size() != 1)
        return {};
    const TAtom& entry = entries->front();
    TByteReader sound(body(entry));
    sound.Skip(8); // reserved, data reference index
    const uint16_t version = sound.U16BE();
    sound.Skip(6); // revision, vendor
    audio.Channels = sound.U16BE();
    sound.Skip(6); // sample size, compression id, packet size
    audio.SampleRate = sound.U32BE() >> 16;
    if (sound.Failed() || version != 0 || entry.End() - entry.Body() < 28)
        return {};
    const auto codecAtoms = Children(data, entry.Body() + 28, entry.End());
    if (!codecAtoms)
        return {};
    if (entry.Type == "mp4a") {
        const TAtom* esds = FindAtom(*codecAtoms, "esds");
        if (!esds || !ReadEsds(body(*esds), audio))
            return {};
        audio.Codec = "AAC";
    } else if (entry.Type == "alac") {
        const TAtom* alac = FindAtom(*codecAtoms, "alac");
        if (!alac)
            return {};
        TByteReader r(body(*alac));
        r.Skip(4 + 4 + 1 + 1 + 3); // version and flags, frame length, compatible version,
                                   // bit depth, three tuning values
        audio.Channels = r.U8();
        // Maximum run and frame size; the average bit rate, which writers fill in as the
        // PCM rate or not at all.
        r.Skip(2 + 4 + 4);
        audio.SampleRate = r.U32BE();
        if (r.Failed())
            return {};
        audio.Codec = "ALAC";
    } else {
        return {};
    }
    if (audio.Channels == 0 || audio.SampleRate == 0 || audio.Duration <= 0)
        return {};
    return audio;
}

// ---- Building atoms ------------------------------------------------------------------

void PutU32(std::vector<std::byte>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::byte>((v >> shift) & 0xFF));
}
void PutText(std::vector<std::byte>& out, std::string_view text) {
    const auto* p = reinterpret_cast<const std::byte*>(text.data());
    out.insert(out.end(), p, p + text.size());
}
void PutBytes(std::vector<std::byte>& out, std::span<const std::byte> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
// Starts an atom of a 32-bit size, which EndAtom fills in.
size_t BeginAtom(std::vector<std::byte>& out, std::string_view type) {
    const size_t start = out.size();
    PutU32(out, 0);
    PutText(out, type);
    return start;
}
void EndAtom(std::vector<std::byte>& out, size_t start) {
    const auto size = static_cast<uint32_t>(out.size() - start);
    for (int i = 0; i < 4; ++i)
        out[start + static_cast<size_t>(i)] = static_cast<std::byte>((size >> (24 - 8 * i)) & 0xFF);
}

// A handler saying the meta atom holds an iTunes item list, as players look for it.
void PutListHandler(std::vector<std::byte>& out) {
    const size_t hdlr = BeginAtom(out, "hdlr");
    PutU32(out, 0); // version, flags
    PutU32(out, 0); // pre-defined
    PutText(out, "mdirappl");
    PutU32(out, 0);
    PutU32(out, 0);
    out.push_back(std::byte{0}); // an empty name
    EndAtom(out, hdlr);
}

void PutItem(std::vector<std::byte>& out, const TMp4Item& item) {
    if (!item.Raw.empty()) {
        PutBytes(out, item.Raw);
        return;
    }
    const bool freeform = item.Key.starts_with(kMp4Freeform);
    const size_t colon = freeform ? item.Key.find(':', kMp4Freeform.size()) : std::string::npos;
    if (freeform ? colon == std::string::npos : item.Key.size() != 4)
        return; // not a name an item can have
    const size_t start = BeginAtom(out, freeform ? "----" : item.Key);
    if (freeform) {
        const std::string_view key = item.Key;
        for (const auto& [type, text] :
             {std::pair{"mean", key.substr(kMp4Freeform.size(), colon - kMp4Freeform.size())},
              std::pair{"name", key.substr(colon + 1)}}) {
            const size_t part = BeginAtom(out, type);
            PutU32(out, 0); // version, flags
            PutText(out, text);
            EndAtom(out, part);
        }
    }
    for (const TMp4Value& value : item.Values) {
        const size_t data = BeginAtom(out, "data");
        PutU32(out, value.Type & 0xFFFFFF);
        PutU32(out, 0); // locale
        PutBytes(out, value.Data);
        EndAtom(out, data);
    }
    EndAtom(out, start);
}

// An item atom of the list as the reader understands it, or kept whole where it does not.
TMp4Item ParseItem(std::span<const std::byte> data, const TAtom& atom) {
    TMp4Item item;
    const auto parts = Children(data, atom.Body(), atom.End());
    bool understood = parts.has_value();
    std::string mean, name;
    for (const TAtom& part : parts.value_or(std::vector<TAtom>{})) {
        TByteReader r(data.subspan(part.Body(), part.Size - part.Header));
        if (part.Type == "data") {
            TMp4Value value;
            value.Type = r.U32BE() & 0xFFFFFF;
            r.Skip(4); // locale
            const auto bytes = r.Rest();
            value.Data.assign(bytes.begin(), bytes.end());
            item.Values.push_back(std::move(value));
        } else if (part.Type == "mean" || part.Type == "name") {
            r.Skip(4); // version, flags
            (part.Type == "mean" ? mean : name) = r.Text(r.Remaining());
        } else {
            understood = false;
        }
        understood = understood && !r.Failed();
    }
    if (atom.Type == "----") {
        understood =
            understood && !mean.empty() && !name.empty() && mean.find(':') == std::string::npos;
        item.Key = std::string(kMp4Freeform) + mean + ":" + name;
    } else {
        item.Key = atom.Type;
    }
    if (!understood || item.Values.empty()) {
        item.Key = atom.Type;
        item.Values.clear();
        const auto raw = data.subspan(atom.Start, atom.Size);
        item.Raw.assign(raw.begin(), raw.end());
    }
    return item;
}

// ---- Rewriting the movie header ------------------------------------------------------

// Builds movie headers with a new item list, every other atom copied as it was.
class TMovieBuilder {
public:
    TMovieBuilder(std::span<const std::byte> movie, std::span<const std::byte> list)
        : movie_(movie), list_(list) {}

    // The new movie header; false when the old one does not walk.
    bool Build(std::vector<std::byte>& out) {
        const auto moov =
            ParseHeader(movie_.first(std::min<size_t>(16, movie_.size())), 0, movie_.size());
        if (!moov)
            return false;
        const size_t start = BeginAtom(out, "moov");
        return Container(out, *moov, "udta", start,
                         [this](auto& o, const TAtom* udta) { return Udta(o, udta); });
    }

private:
    // Copies the children of parent (whose new atom begins at start) but the first of type,
    // which rebuild makes (given null where there is none, then made last), and ends the atom.
    template <typename F>
    bool Container(std::vector<std::byte>& out, const TAtom& parent, std::string_view type,
                   size_t start, F rebuild) {
        const auto kids = Children(movie_, parent.Body(), parent.End());
        if (!kids)
            return false;
        bool done = false;
        for (const TAtom& kid : *kids) {
            if (!done && kid.Type == type) {
                if (!rebuild(out, &kid))
                    return false;
                done = true;
            } else {
                PutBytes(out, movie_.subspan(kid.Start, kid.Size));
            }
        }
        if (!done && !rebuild(out, nullptr))
            return false;
        EndAtom(out, start);
        return true;
    }

    bool Udta(std::vector<std::byte>& out, const TAtom* udta) {
        const size_t start = BeginAtom(out, "udta");
        if (udta)
            return Container(out, *udta, "meta", start,
                             [this](auto& o, const TAtom* meta) { return Meta(o, meta); });
        Meta(out, nullptr);
        EndAtom(out, start);
        return true;
    }

    // The meta atom: its handler (an iTunes one where it had none) and its other atoms, then
    // the new list in place of the old one and of any padding.
    bool Meta(std::vector<std::byte>& out, const TAtom* meta) {
        const size_t start = BeginAtom(out, "meta");
        PutU32(out, 0); // version, flags
        std::vector<TAtom> kids;
        if (meta) {
            auto found = Children(movie_, MetaChildren(movie_, *meta), meta->End());
            if (!found)
                return false;
            kids = std::move(*found);
        }
        if (!FindAtom(kids, "hdlr"))
            PutListHandler(out);
        for (const TAtom& kid : kids)
            if (kid.Type != "ilst" && kid.Type != "free")
                PutBytes(out, movie_.subspan(kid.Start, kid.Size));
        PutBytes(out, list_);
        EndAtom(out, start);
        return true;
    }

    std::span<const std::byte> movie_;
    std::span<const std::byte> list_;
};

// Moves the chunk offsets of every track (stco, co64) that point at or past from by delta:
// the audio behind a movie header that changed its size. False when an offset table is
// broken or an offset would no longer fit its 32 bits.
bool ShiftChunkOffsets(std::vector<std::byte>& movie, uint64_t from, int64_t delta,
                       std::string& error) {
    const std::span<std::byte> bytes(movie);
    // The boxes on the way from the movie to the offset tables.
    const auto walk = [&](auto& self, const TAtom& parent, uint64_t childStart) -> bool {
        const auto kids = Children(bytes, childStart, parent.End());
        if (!kids) {
            error = "the movie header is broken";
            return false;
        }
        for (const TAtom& kid : *kids) {
            if (kid.Type == "trak" || kid.Type == "mdia" || kid.Type == "minf" ||
                kid.Type == "stbl") {
                if (!self(self, kid, kid.Body()))
                    return false;
                continue;
            }
            const bool wide = kid.Type == "co64";
            if (kid.Type != "stco" && !wide)
                continue;
            TByteReader r(bytes.subspan(kid.Body(), kid.Size - kid.Header));
            r.Skip(4); // version, flags
            const uint64_t count = r.U32BE();
            const size_t width = wide ? 8 : 4;
            if (r.Failed() || count > r.Remaining() / width) {
                error = "a chunk offset table of the file is broken";
                return false;
            }
            for (uint64_t i = 0; i < count; ++i) {
                const size_t at = kid.Body() + 8 + static_cast<size_t>(i) * width;
                TByteReader entry(bytes.subspan(at, width));
                uint64_t offset = wide ? entry.U64BE() : entry.U32BE();
                if (offset < from)
                    continue;
                offset = static_cast<uint64_t>(static_cast<int64_t>(offset) + delta);
                if (!wide && offset > UINT32_MAX) {
                    error = "the audio would move past the 4 GB its offsets can reach";
                    return false;
                }
                for (size_t b = 0; b < width; ++b)
                    bytes[at + b] =
                        static_cast<std::byte>((offset >> (8 * (width - 1 - b))) & 0xFF);
            }
        }
        return true;
    };
    const auto moov = ParseHeader(bytes.first(std::min<size_t>(16, bytes.size())), 0, bytes.size());
    return moov && walk(walk, *moov, moov->Body());
}

std::string MimeOfCover(uint32_t type, std::span<const std::byte> data) {
    if (type == kMp4Jpeg)
        return "image/jpeg";
    if (type == kMp4Png)
        return "image/png";
    return GuessImageMimeType(data);
}

} // namespace

bool TMp4Tags::Load(const std::string& path) {
    TFileSource source;
    if (!source.Open(path)) {
        items_.clear();
        audio_ = {};
        error_ = source.LastError();
        return false;
    }
    return Load(source);
}

bool TMp4Tags::Load(TTagSource& source) {
    items_.clear();
    audio_ = {};
    error_.clear();
    std::vector<TAtom> top;
    if (!WalkFile(source, top, error_))
        return false;
    const TAtom* moov = FindAtom(top, "moov");
    if (!moov) {
        error_ = "the file has no movie header (moov): it is no MP4 file";
        return false;
    }
    if (moov->Size > kMaxMp4MovieBytes) {
        error_ = "the movie header of the file is too large";
        return false;
    }
    std::vector<std::byte> movie;
    if (!source.ReadExact(moov->Start, static_cast<size_t>(moov->Size), movie)) {
        error_ = "the movie header of the file cannot be read";
        return false;
    }
    // moov/udta/meta/ilst; a file without any of them simply has no items.
    const std::span<const std::byte> data(movie);
    const auto atoms = [&](uint64_t from, uint64_t to) { return Children(data, from, to); };
    const auto moovKids = atoms(moov->Header, movie.size());
    const TAtom* udta = moovKids ? FindAtom(*moovKids, "udta") : nullptr;
    const auto udtaKids = udta ? atoms(udta->Body(), udta->End()) : std::nullopt;
    const TAtom* meta = udtaKids ? FindAtom(*udtaKids, "meta") : nullptr;
    const auto metaKids = meta ? atoms(MetaChildren(data, *meta), meta->End()) : std::nullopt;
    const TAtom* ilst = metaKids ? FindAtom(*metaKids, "ilst") : nullptr;
    const auto entries = ilst ? atoms(ilst->Body(), ilst->End()) : std::nullopt;
    if (!moovKids || (udta && !udtaKids) || (meta && !metaKids) || (ilst && !entries)) {
        error_ = "the tags of the file are broken";
        return false;
    }
    for (const TAtom& entry : entries.value_or(std::vector<TAtom>{}))
        items_.push_back(ParseItem(data, entry));
    audio_ = ReadAudio(data, *moovKids);
    return true;
}

TMp4Item* TMp4Tags::Find(std::string_view key) {
    const auto it =
        std::find_if(items_.begin(), items_.end(), [&](const TMp4Item& i) { return i.Key == key; });
    return it == items_.end() ? nullptr : &*it;
}

const TMp4Item* TMp4Tags::Find(std::string_view key) const {
    return const_cast<TMp4Tags*>(this)->Find(key);
}

std::string TMp4Tags::Text(std::string_view key) const {
    const TMp4Item* item = Find(key);
    if (!item || item->Values.empty() || item->Values[0].Type != kMp4Utf8)
        return {};
    const auto& d = item->Values[0].Data;
    return std::string(reinterpret_cast<const char*>(d.data()), d.size());
}

void TMp4Tags::Remove(std::string_view key) {
    std::erase_if(items_, [&](const TMp4Item& i) { return i.Key == key; });
}

void TMp4Tags::SetText(std::string_view key, std::string_view text) {
    if (text.empty()) {
        Remove(key);
        return;
    }
    TMp4Value value{kMp4Utf8, {}};
    PutText(value.Data, text);
    TMp4Item* item = Find(key);
    if (!item)
        item = &items_.emplace_back(TMp4Item{std::string(key), {}, {}});
    item->Raw.clear();
    item->Values.assign(1, std::move(value));
}

int TMp4Tags::Track() const {
    const TMp4Item* item = Find(kMp4Track);
    if (!item || item->Values.empty() || item->Values[0].Data.size() < 4)
        return 0;
    TByteReader r(item->Values[0].Data);
    r.Skip(2);
    return r.U16BE();
}

void TMp4Tags::SetTrack(int track, int total) {
    if (track <= 0) {
        Remove(kMp4Track);
        return;
    }
    // Two bytes of nothing, the track, the total, two bytes of nothing.
    TMp4Value value{kMp4Implicit, {}};
    PutU32(value.Data, static_cast<uint32_t>(std::min(track, 0xFFFF)));
    PutU32(value.Data, static_cast<uint32_t>(std::clamp(total, 0, 0xFFFF)) << 16);
    TMp4Item* item = Find(kMp4Track);
    if (!item)
        item = &items_.emplace_back(TMp4Item{std::string(kMp4Track), {}, {}});
    item->Raw.clear();
    item->Values.assign(1, std::move(value));
}

void TMp4Tags::SetDisc(std::string_view text) {
    // The number before a slash and the one after it; anything else ends a number.
    const auto number = [](std::string_view t) {
        int v = 0;
        std::from_chars(t.data(), t.data() + t.size(), v);
        return std::clamp(v, 0, 0xFFFF);
    };
    const size_t slash = text.find('/');
    const int disc = number(text.substr(0, slash));
    if (disc == 0) {
        Remove(kMp4Disc);
        return;
    }
    const int total = slash == std::string_view::npos ? 0 : number(text.substr(slash + 1));
    // Two bytes of nothing, the disc, the total: six bytes, as iTunes writes it.
    TMp4Value value{kMp4Implicit, {}};
    PutU32(value.Data, static_cast<uint32_t>(disc));
    value.Data.push_back(static_cast<std::byte>(total >> 8));
    value.Data.push_back(static_cast<std::byte>(total & 0xFF));
    TMp4Item* item = Find(kMp4Disc);
    if (!item)
        item = &items_.emplace_back(TMp4Item{std::string(kMp4Disc), {}, {}});
    item->Raw.clear();
    item->Values.assign(1, std::move(value));
}

void TMp4Tags::SetRelease(const TReleaseTexts& release) {
    SetText(kMp4AlbumArtist, release[kAlbumArtist]);
    SetDisc(release[kDiscNumber]);
    for (size_t field = kMbAlbumId; field < kReleaseFieldCount; ++field)
        SetText(std::string(kMp4Freeform) + std::string(kMp4ITunesMean) + ":" +
                    std::string(kMusicBrainzIdNames[field]),
                release[field]);
}

TReleaseTexts TMp4Tags::Release() const {
    TReleaseTexts release;
    release[kAlbumArtist] = Text(kMp4AlbumArtist);
    // disk: two bytes of padding, the disc and the count of the set.
    if (const TMp4Item* disk = Find(kMp4Disc); disk && !disk->Values.empty()) {
        TByteReader r(disk->Values.front().Data);
        r.Skip(2);
        const uint16_t disc = r.U16BE(), total = r.U16BE();
        if (disc > 0)
            release[kDiscNumber] = std::to_string(disc) + (total > 0 ? "/" + std::to_string(total) : "");
    }
    for (size_t field = kMbAlbumId; field < kReleaseFieldCount; ++field)
        release[field] = Text(std::string(kMp4Freeform) + std::string(kMp4ITunesMean) + ":" +
                              std::string(kMusicBrainzIdNames[field]));
    return release;
}

std::vector<TCoverArt> TMp4Tags::Covers() const {
    std::vector<TCoverArt> covers;
    if (const TMp4Item* item = Find(kMp4Cover))
        for (const TMp4Value& value : item->Values) {
            TCoverArt cover;
            cover.Data = value.Data;
            cover.MimeType = MimeOfCover(value.Type, value.Data);
            covers.push_back(std::move(cover));
        }
    return covers;
}

bool TMp4Tags::SetCover(const TCoverArt& cover) {
    const std::string mime =
        cover.MimeType.empty() ? GuessImageMimeType(cover.Data) : cover.MimeType;
    const uint32_t type = mime == "image/jpeg" ? kMp4Jpeg : mime == "image/png" ? kMp4Png : 0;
    if (type == 0)
        return false;
    TMp4Item* item = Find(kMp4Cover);
    if (!item)
        item = &items_.emplace_back(TMp4Item{std::string(kMp4Cover), {}, {}});
    item->Raw.clear();
    item->Values.assign(1, TMp4Value{type, cover.Data});
    return true;
}

std::vector<std::byte> TMp4Tags::BuildList() const {
    std::vector<std::byte> out;
    const size_t start = BeginAtom(out, "ilst");
    for (const TMp4Item& item : items_)
        PutItem(out, item);
    EndAtom(out, start);
    return out;
}

bool TMp4Tags::Save(const std::string& path, bool fresh) {
    error_.clear();
    std::vector<std::byte> movie;
    std::vector<std::byte> head; // what goes in front of the new movie header
    uint64_t keepFrom = 0;       // where the old file goes on after it
    bool last = false;
    {
        TFileSource source;
        if (!source.Open(path)) {
            error_ = source.LastError();
            return false;
        }
        std::vector<TAtom> top;
        if (!WalkFile(source, top, error_))
            return false;
        const auto moov =
            std::find_if(top.begin(), top.end(), [](const TAtom& a) { return a.Type == "moov"; });
        if (moov == top.end()) {
            error_ = "the file has no movie header (moov): it is no MP4 file";
            return false;
        }
        last = moov + 1 == top.end();
        if (!last && FindAtom(top, "moof")) {
            error_ = "the tags of a fragmented MP4 file are not rewritten";
            return false;
        }
        if (moov->Size > kMaxMp4MovieBytes || (!last && moov->Start > kMaxBytesBeforeMovie)) {
            error_ = "the movie header of the file is too large or too far in to be rewritten";
            return false;
        }
        if (!source.ReadExact(moov->Start, static_cast<size_t>(moov->Size), movie) ||
            (!last && !source.ReadExact(0, static_cast<size_t>(moov->Start), head))) {
            error_ = "the file cannot be read";
            return false;
        }
        keepFrom = last ? moov->Start : moov->End();
    }
    const std::vector<std::byte> list = BuildList();
    std::vector<std::byte> rebuilt;
    if (!TMovieBuilder(movie, list).Build(rebuilt)) {
        error_ = "the movie header of the file is broken";
        return false;
    }
    if (last)
        return ReplaceFileTail(path, keepFrom, rebuilt, error_);
    // The audio behind the header moves with its size.
    const auto delta = static_cast<int64_t>(rebuilt.size()) - static_cast<int64_t>(movie.size());
    if (delta != 0 && !ShiftChunkOffsets(rebuilt, keepFrom, delta, error_))
        return false;
    head.insert(head.end(), rebuilt.begin(), rebuilt.end());
    return RebuildFileWithHead(path, head, keepFrom, error_, !fresh);
}

void TMp4Tags::ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why) {
    std::vector<std::byte> head;
    if (!source.ReadExact(4, 4, head) || std::memcmp(head.data(), "ftyp", 4) != 0)
        return;
    TMp4Tags tags;
    if (!tags.Load(source)) {
        SetPictureWhy(why, tags.LastError());
        return;
    }
    for (TCoverArt& cover : tags.Covers())
        if (offer(std::move(cover)))
            return;
}

bool TMp4Tags::WriteFreeform(const std::string& path,
                             std::span<const std::pair<std::string, std::string>> texts,
                             std::string& error, bool fresh) {
    TMp4Tags tags;
    if (!tags.Load(path)) {
        error = tags.LastError();
        return false;
    }
    for (const auto& [name, text] : texts) {
        const std::string key = std::string(kMp4Freeform) + "com.apple.iTunes:" + name;
        std::erase_if(tags.items_, [&](const TMp4Item& item) {
            return AsciiUpper(item.Key) == AsciiUpper(key);
        });
        tags.SetText(key, text);
    }
    if (!tags.Save(path, fresh)) {
        error = tags.LastError();
        return false;
    }
    return true;
}

} // namespace bw
