#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _CdIo; // libcdio's handle (CdIo_t)

namespace bw {

// The lowest layer of the CD code: the system's CD devices, their doors, and raw audio
// sectors of an opened disc or image. Everything above it (drive list, table of contents,
// verified track reading) is plain code over this interface, so that tests can stand in
// for a drive whose door moves, whose disc is scratched or taken out.

enum class TCdDoorState { Closed, Open, Unknown };

// What ReadAudio returns when the disc is no longer there (taken out, device gone).
constexpr long kCdDiscGone = -1;

// One opened disc (in a device) or image. Not thread-safe: one thread uses one disc.
class TCdDisc {
public:
    virtual ~TCdDisc() = default;
    // libcdio's handle of the disc: its table of contents and track formats are read through
    // it. Owned by the disc.
    virtual _CdIo* Handle() = 0;
    // Reads count raw audio sectors (2352 bytes each) from lsn into out. Returns the number
    // of sectors read from the start of the range: fewer than count where a sector could not
    // be read (the rest of out is then undefined), or kCdDiscGone.
    virtual long ReadAudio(int32_t lsn, long count, std::byte* out) = 0;
};

class TCdSystem {
public:
    virtual ~TCdSystem() = default;
    // The system's CD devices in device order, each once.
    virtual std::vector<std::string> DevicePaths() = 0;
    // "vendor model" as the device reports them; empty when it does not answer.
    virtual std::string HardwareText(const std::string& device) = 0;
    // Opens the disc in a device or a disc image (.cue or .toc). Null with the reason in
    // *why when there is no disc or the image is refused.
    virtual std::unique_ptr<TCdDisc> OpenDisc(const std::string& path, bool image,
                                              std::string* why) = 0;
    virtual TCdDoorState DoorState(const std::string& device) = 0;
    virtual bool MoveDoor(const std::string& device, bool open, std::string* why) = 0;
    virtual bool LockDoor(const std::string& device, bool lock, std::string* why) = 0;
};

// The machine's own CD devices and images through libcdio and the CD-ROM ioctls.
TCdSystem& SystemCd();

// The last warning or error libcdio logged on this thread (libcdio's log goes here instead
// of standard error), and clears it.
std::string TakeCdioMessage();

} // namespace bw
