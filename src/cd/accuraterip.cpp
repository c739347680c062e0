#include "cd/accuraterip.h"

#include "common/bytereader.h"
#include "net/httpget.h"
#include "pipeline/checksums.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bw {

namespace {

// The samples the checksums leave out at the disc's two ends: five sectors' worth, less the
// first sample (the drives' read offsets the database allows for).
constexpr uint64_t kSkipFirst = 5 * 588 - 1;
constexpr uint64_t kSkipLast = 5 * 588;
// An answer is a few hundred bytes a submitted pressing.
constexpr int64_t kMaxAnswerBytes = 1 << 20;

} // namespace

TTrackChecksums::TTrackChecksums(uint64_t samples, bool firstTrack, bool lastTrack)
    : samples_(samples), from_(firstTrack ? kSkipFirst + 1 : 1),
      to_(lastTrack ? (samples > kSkipLast ? samples - kSkipLast : 0) : samples) {}

void TTrackChecksums::Add(std::span<const std::byte> pcm) {
    const size_t frames = std::min<uint64_t>(pcm.size() / 4, samples_ - done_);
    crc_ = Crc32Update(crc_, pcm.first(frames * 4));
    const auto* p = reinterpret_cast<const uint8_t*>(pcm.data());
    uint32_t v1 = v1_, v2 = v2_;
    int32_t peak = peak_;
    for (size_t i = 0; i < frames; ++i, p += 4) {
        uint32_t sample;
        std::memcpy(&sample, p, 4);
        if constexpr (std::endian::native == std::endian::big)
            sample = __builtin_bswap32(sample);
        const int32_t left = static_cast<int16_t>(sample & 0xFFFF);
        const int32_t right = static_cast<int16_t>(sample >> 16);
        peak = std::max({peak, std::abs(left), std::abs(right)});
        const uint64_t mult = done_ + i + 1;
        if (mult < from_ || mult > to_)
            continue;
        v1 += sample * static_cast<uint32_t>(mult);
        const uint64_t product = uint64_t{sample} * mult;
        v2 += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
    }
    v1_ = v1;
    v2_ = v2;
    peak_ = peak;
    done_ += frames;
}

std::string AccurateRipPath(const TDiscIds& ids) {
    char text[96];
    std::snprintf(text, sizeof text, "accuraterip/%x/%x/%x/dBAR-%s.bin", ids.Id1 & 0xF,
                  ids.Id1 >> 4 & 0xF, ids.Id1 >> 8 & 0xF, ids.AccurateRipId().c_str());
    return text;
}

bool ParseAccurateRipAnswer(std::span<const std::byte> data, std::vector<TArBlock>& blocks) {
    blocks.clear();
    TByteReader r(data);
    while (!r.AtEnd()) {
        TArBlock block;
        const uint8_t count = r.U8();
        block.Id1 = r.U32LE();
        block.Id2 = r.U32LE();
        block.FreedbId = r.U32LE();
        // The count is checked against what is there before anything is made of it.
        if (r.Failed() || !r.Has(size_t{count} * 9)) {
            blocks.clear();
            return false;
        }
        block.Tracks.resize(count);
        for (TArEntry& e : block.Tracks) {
            e.Confidence = r.U8();
            e.Crc = r.U32LE();
            e.Frame450Crc = r.U32LE();
        }
        blocks.push_back(std::move(block));
    }
    return true;
}

TArVerdict JudgeTrack(std::span<const TArBlock> blocks, size_t slot, uint32_t v1, uint32_t v2) {
    bool known = false;
    int best = -1;
    for (const TArBlock& b : blocks) {
        if (slot >= b.Tracks.size())
            continue;
        known = true;
        const TArEntry& e = b.Tracks[slot];
        if (e.Crc == v1 || e.Crc == v2)
            best = std::max(best, int{e.Confidence});
    }
    if (best >= 0)
        return {"Accurate (confidence " + std::to_string(best) + ")", best};
    return {known ? kArNotAccurate : kArNotInDatabase, 0};
}

TArDiscAnswer FetchAccurateRip(const std::string& server, const TDiscIds& ids, int timeoutMs,
                               const std::function<bool()>& stop) {
    TArDiscAnswer answer;
    THttpGet http(kMaxAnswerBytes);
    http.SetTimeout(timeoutMs);
    QEventLoop loop;
    THttpResult result;
    bool ended = false;
    const std::string refused =
        http.Start("http://" + server + "/" + AccurateRipPath(ids), [&](THttpResult r) {
            result = std::move(r);
            ended = true;
            loop.quit();
        });
    if (!refused.empty()) {
        answer.Error = "Can't ask the AccurateRip database \"" + server + "\": " + refused;
        return answer;
    }
    // A run stopped by the user does not wait out the time-out.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop && stop())
            http.Abort();
    });
    poll.start(100);
    if (!ended)
        loop.exec();
    // Qt reports a 404 as a failed transfer that carries the status.
    if (result.Status == 404 && (result.Outcome == THttpResult::TOutcome::BadStatus ||
                                 result.Outcome == THttpResult::TOutcome::Failed)) {
        answer.Kind = TArDiscAnswer::TKind::NotFound;
        return answer;
    }
    if (result.Outcome != THttpResult::TOutcome::Ok) {
        answer.Error =
            "The AccurateRip database \"" + server + "\" gave no answer: " + result.Error;
        return answer;
    }
    const auto* bytes = reinterpret_cast<const std::byte*>(result.Body.constData());
    if (!ParseAccurateRipAnswer({bytes, static_cast<size_t>(result.Body.size())}, answer.Blocks)) {
        answer.Error = "The AccurateRip database \"" + server + "\" sent a damaged answer";
        return answer;
    }
    answer.Kind = TArDiscAnswer::TKind::Found;
    return answer;
}

} // namespace bw
