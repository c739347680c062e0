#pragma once

#include "tags/id3v1.h"
#include "tags/id3v2.h"

#include <cstdint>
#include <span>
#include <string>

namespace bw {

class TTagSource;

// Stream information of an MPEG audio file (.mp3, .mp2, .mp1): the first frame, a Xing or
// VBRI header in it, and the ID3 tags whose sizes say where the audio lies.
class TMPEGaudio {
public:
    static constexpr size_t kBlockSize = 3458;    // bytes read per search step
    static constexpr size_t kSearchReserve = 1728; // tail of a block not searched

    struct TVBR {
        bool Found = false;
        int32_t Frames = 0;
        int32_t Bytes = 0;
    };
    struct TFrame {
        bool Found = false;
        int32_t Position = 0; // file offset of the frame's first byte
        uint16_t Size = 0;    // frame length in bytes
        uint8_t VersionID = 1;       // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
        uint8_t LayerID = 0;         // 1 Layer III, 2 Layer II, 3 Layer I
        uint8_t BitRateIndex = 0;
        uint8_t SampleRateIndex = 3;
        bool Padding = false;
        uint8_t ModeID = 4;          // 0 stereo, 1 joint, 2 dual, 3 mono, 4 unknown
    };

    TMPEGaudio() { Clear(); }
    void Clear();
    // False only when the file cannot be opened or read; a file without a frame loads
    // with Valid() false.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    double Duration() const;        // seconds
    uint16_t BitRate() const;       // kbit/s
    int SampleRate() const;         // Hz
    std::string ChannelModeText() const;
    bool Valid() const;

    int32_t FileSize() const { return fileSize_; }
    const TVBR& VBR() const { return vbr_; }
    const TFrame& Frame() const { return frame_; }
    int64_t AudioStart() const { return audioStart_; }
    int64_t AudioEnd() const { return audioEnd_; }
    const TID3v1& ID3v1() const { return id3v1_; }
    const TID3v2& ID3v2() const { return id3v2_; }

    // Header helpers, public for the tests of exact frame sizes.
    static bool IsFrameHeader(std::span<const std::byte> b);
    static TFrame DecodeHeader(std::span<const std::byte> b);
    static int TableBitRate(const TFrame& f);   // kbit/s
    static int TableSampleRate(const TFrame& f); // Hz
    static int Coefficient(const TFrame& f);     // bytes per unit of bit rate / sample rate
    static int SlotSize(const TFrame& f);        // bytes: 4 in Layer I, 1 otherwise
    static int PaddingSize(const TFrame& f);
    static int FrameSize(const TFrame& f);

private:
    bool SearchBlock(std::span<const std::byte> block);
    void ReadVbrHeader(std::span<const std::byte> block, size_t frameOffset);

    int32_t fileSize_ = 0;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
    TVBR vbr_;
    TFrame frame_;
    int64_t audioStart_ = 0;
    int64_t audioEnd_ = 0;
};

} // namespace bw
