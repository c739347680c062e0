#include "encoders/flacoutput.h"

#include "audio/audiostream.h"
#include "common/outputfile.h"
#include "encoders/cdcodes.h"
#include "encoders/coverart.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "encoders/outputcheck.h"
#include "encoders/releasetags.h"
#include "tags/vorbiscomment.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>

namespace bw {

namespace {

constexpr size_t kBlocksPerRead = 4096;
constexpr unsigned kPaddingBytes = 8192;
constexpr int kSeekPointSeconds = 10;

struct TEncoderDelete {
    void operator()(FLAC__StreamEncoder* e) const { FLAC__stream_encoder_delete(e); }
};
struct TMetadataDelete {
    void operator()(FLAC__StreamMetadata* m) const { FLAC__metadata_object_delete(m); }
};
using TMetadata = std::unique_ptr<FLAC__StreamMetadata, TMetadataDelete>;

// PCM blocks as the stream hands them (8-bit unsigned, 16- or packed 24-bit signed, little
// endian, channels interleaved) as the encoder's signed 32-bit samples, a buffer a channel:
// the encoder works on channels apart, so it is given them apart rather than splitting them
// once more itself.
// Stereo 16-bit, what nearly every source is, in a loop the compiler vectorises (this file
// is built with a vectoriser that does not give up on loops of unknown length).
void SplitStereo16(const int16_t* __restrict p, FLAC__int32* __restrict l, FLAC__int32* __restrict r,
                   size_t blocks) {
    for (size_t i = 0; i < blocks; ++i) {
        l[i] = p[2 * i];
        r[i] = p[2 * i + 1];
    }
}

template <int kBytes>
void ToChannels(const uint8_t* p, size_t blocks, std::span<std::vector<FLAC__int32>> out) {
    const size_t channels = out.size();
    if (kBytes == 2 && channels == 2) {
        SplitStereo16(reinterpret_cast<const int16_t*>(p), out[0].data(), out[1].data(), blocks);
        return;
    }
    for (size_t c = 0; c < channels; ++c) {
        FLAC__int32* o = out[c].data();
        const uint8_t* q = p + c * kBytes;
        const size_t step = channels * kBytes;
        for (size_t i = 0; i < blocks; ++i, q += step) {
            if constexpr (kBytes == 1)
                o[i] = static_cast<FLAC__int32>(q[0]) - 128;
            else if constexpr (kBytes == 2)
                o[i] = static_cast<int16_t>(static_cast<uint16_t>(q[0] | (q[1] << 8)));
            else
                o[i] = static_cast<FLAC__int32>((static_cast<uint32_t>(q[0]) << 8) | (static_cast<uint32_t>(q[1]) << 16) |
                                                (static_cast<uint32_t>(q[2]) << 24)) >> 8;
        }
    }
}

void ToChannels(std::span<const std::byte> pcm, int bytesPerSample, size_t blocks,
                std::span<std::vector<FLAC__int32>> out) {
    const auto* p = reinterpret_cast<const uint8_t*>(pcm.data());
    switch (bytesPerSample) {
    case 1: ToChannels<1>(p, blocks, out); break;
    case 2: ToChannels<2>(p, blocks, out); break;
    default: ToChannels<3>(p, blocks, out); break;
    }
}

// Why the encoder stopped: the system's words when writing the file failed (a full disk),
// else the encoder's state.
std::string EncoderFailure(const FLAC__StreamEncoder* encoder, int error) {
    const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder);
    if ((state == FLAC__STREAM_ENCODER_CLIENT_ERROR || state == FLAC__STREAM_ENCODER_IO_ERROR) && error != 0)
        return std::string("the file could not be written (") + std::strerror(error) + ")";
    return FLAC__stream_encoder_get_resolved_state_string(encoder);
}

// The metadata blocks the file starts with after STREAMINFO, in flac's order: the seek
// table, the comments, the padding.
std::vector<TMetadata> MetadataFor(const TmyMusicFile& item, const TChannelInfo& info, uint64_t totalBlocks) {
    std::vector<TMetadata> blocks;
    if (totalBlocks > 0) {
        TMetadata seek(FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE));
        FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
            seek.get(), static_cast<uint32_t>(info.SampleRate) * kSeekPointSeconds, totalBlocks);
        FLAC__metadata_object_seektable_template_sort(seek.get(), true);
        blocks.push_back(std::move(seek));
    }
    TMetadata comments(FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT));
    std::vector<std::string> texts = FlacCommentsFor(item);
    // Surround keeps its speaker positions in a comment, as flac keeps those of the WAV
    // header a surround source always had on its way to the program.
    if (info.Channels > 2 && info.ChannelMask != 0) {
        char mask[48];
        std::snprintf(mask, sizeof mask, "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=0x%04X", info.ChannelMask);
        texts.emplace_back(mask);
    }
    for (const std::string& text : texts) {
        if (text.find('=') + 1 == text.size()) // an empty value, which flac leaves out too
            continue;
        FLAC__StreamMetadata_VorbisComment_Entry entry{static_cast<FLAC__uint32>(text.size()),
                                                       reinterpret_cast<FLAC__byte*>(const_cast<char*>(text.data()))};
        FLAC__metadata_object_vorbiscomment_append_comment(comments.get(), entry, true);
    }
    blocks.push_back(std::move(comments));
    TMetadata padding(FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING));
    padding->length = kPaddingBytes;
    blocks.push_back(std::move(padding));
    return blocks;
}

} // namespace

std::vector<std::string> FlacCommentsFor(const TmyMusicFile& item) {
    std::vector<std::string> texts{"Title=" + item.Title,  "Artist=" + item.Artist, "Album=" + item.Album,
                                   "Comment=" + item.Comment, "Date=" + item.Year,
                                   "TrackNumber=" + std::to_string(item.Track), "Genre=" + item.Genre};
    for (const auto& [name, value] : CdCodeTags(item, "ISRC=", "BARCODE="))
        texts.push_back(name + value);
    for (const auto& [name, value] : ReleaseTags(item, kVorbisReleaseNames))
        texts.push_back(name + "=" + value);
    return texts;
}

bool RunFlacTarget(TItemContext& context, const TFlacOptions& options) {
    const TmyMusicFile& item = context.CurrentJob();
    const std::string& output = item.TargetPath;
    const auto fail = [&context](const std::string& message) { return FailItem(context, message); };
    std::error_code ec;
    if (std::filesystem::exists(output, ec) && !IsReplaceableOutput(output))
        return fail(CantCreateFileMessage(output));

    TAudioStream& stream = context.ConversionStream();
    const TChannelInfo info = stream.Info();
    const uint64_t totalBlocks =
        stream.LengthIsExact() ? stream.LengthBytes() / static_cast<uint64_t>(info.BlockAlign()) : 0;

    // Written under a private name beside the target, which is only replaced by a complete,
    // checked file.
    TPendingOutput pending(output);
    context.ClearCancelCurrent();
    std::vector<TMetadata> metadata = MetadataFor(item, info, totalBlocks);
    std::vector<FLAC__StreamMetadata*> metadataList;
    for (const auto& m : metadata)
        metadataList.push_back(m.get());
    const std::unique_ptr<FLAC__StreamEncoder, TEncoderDelete> encoder(FLAC__stream_encoder_new());
    if (!encoder)
        return fail(CantCreateFileMessage(output) + "\nOut of memory.");
    FLAC__StreamEncoder* e = encoder.get();
    const int level = std::clamp(options.FLACMyTrackBar, 0, kFlacMaxLevel);
    FLAC__stream_encoder_set_channels(e, static_cast<uint32_t>(info.Channels));
    FLAC__stream_encoder_set_bits_per_sample(e, static_cast<uint32_t>(info.BytesPerSample() * 8));
    FLAC__stream_encoder_set_sample_rate(e, static_cast<uint32_t>(info.SampleRate));
    FLAC__stream_encoder_set_compression_level(e, static_cast<uint32_t>(level));
    FLAC__stream_encoder_set_streamable_subset(e, !options.FLACLax);
    if (totalBlocks > 0)
        FLAC__stream_encoder_set_total_samples_estimate(e, totalBlocks);
    FLAC__stream_encoder_set_metadata(e, metadataList.data(), static_cast<uint32_t>(metadataList.size()));
    const FLAC__StreamEncoderInitStatus init =
        FLAC__stream_encoder_init_file(e, pending.TemporaryPath().c_str(), nullptr, nullptr);
    if (init != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        return fail("Encoding \"" + output + "\" failed: " +
                    (init == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                         ? EncoderFailure(e, errno)
                         : std::string(FLAC__StreamEncoderInitStatusString[init])));

    const size_t blockAlign = static_cast<size_t>(info.BlockAlign());
    std::vector<std::byte> block(kBlocksPerRead * blockAlign);
    std::vector<std::vector<FLAC__int32>> channels(static_cast<size_t>(info.Channels),
                                                  std::vector<FLAC__int32>(kBlocksPerRead));
    std::vector<const FLAC__int32*> channelStarts;
    for (const auto& c : channels)
        channelStarts.push_back(c.data());
    size_t carried = 0; // bytes of a block split across two reads
    uint64_t fedBlocks = 0;
    int percent = 0;
    bool readFailed = false;
    for (;;) {
        const int64_t n = stream.Read(std::span(block).subspan(carried));
        if (n < 0) {
            readFailed = true;
            break;
        }
        if (n == 0)
            break;
        const size_t have = carried + static_cast<size_t>(n);
        const size_t blocks = have / blockAlign;
        ToChannels(block, info.BytesPerSample(), blocks, channels);
        errno = 0;
        if (!FLAC__stream_encoder_process(e, channelStarts.data(), static_cast<uint32_t>(blocks)))
            return fail("Encoding \"" + output + "\" failed: " + EncoderFailure(e, errno));
        context.MeasureLoudness(info, std::span(block.data(), blocks * blockAlign));
        fedBlocks += blocks;
        carried = have - blocks * blockAlign;
        if (carried)
            std::memmove(block.data(), block.data() + blocks * blockAlign, carried);
        percent = ProgressPercent(stream.Position(), stream.LengthBytes());
        if (ItemCancelledAt(context, percent))
            return false; // what was written goes with the pending output
    }
    if (readFailed || !stream.DeliveredAll())
        return fail(SourceEndedEarlyMessage(item.SourcePath, stream));
    errno = 0;
    if (!FLAC__stream_encoder_finish(e))
        return fail("Encoding \"" + output + "\" failed: " + EncoderFailure(e, errno));
    const std::string& written = pending.TemporaryPath();
    if (const std::string bad = CheckEncoderOutput(TTargetType::Flac, written, {fedBlocks, info.SampleRate});
        !bad.empty())
        return fail("Encoding \"" + output + "\" failed: the file is incomplete: " + bad + ".");
    CarryCover(context, written, TTargetType::Flac);
    std::string why;
    if (!pending.Commit(why))
        return fail(CantCreateFileMessage(output) + "\n" + why);
    return true;
}

} // namespace bw
