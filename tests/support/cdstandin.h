#pragma once

// A stand-in for the lowest CD layer, for what no real drive does on demand: devices whose
// discs are generated images, doors that move when told (or when the test presses eject),
// locks, a dozen drives, sectors that never read, a disc taken out while it is read. Discs
// are real images read through libcdio; the stand-in only decides what each low-level call
// returns. Images added as drives are read through it too, so their faults can be set.

#include "cd/cdsystem.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace bwtest {

class TStandInDisc final : public bw::TCdDisc {
public:
    struct TFaults {
        std::set<int32_t> Unreadable;
        long GoneAfterReads = -1;  // reads before the disc goes away; -1 never
        bool GoneSilently = false; // gone as a dead drive: empty reads, never "no disc"
    };
    TStandInDisc(std::unique_ptr<bw::TCdDisc> real, TFaults faults, long& reads, long& readsAfterGone)
        : real_(std::move(real)), faults_(std::move(faults)), reads_(reads),
          readsAfterGone_(readsAfterGone) {}

    _CdIo* Handle() override { return real_->Handle(); }
    long ReadAudio(int32_t lsn, long count, std::byte* out) override {
        ++reads_;
        if (faults_.GoneAfterReads >= 0 && reads_ > faults_.GoneAfterReads) {
            ++readsAfterGone_;
            return faults_.GoneSilently ? 0 : bw::kCdDiscGone;
        }
        const long n = real_->ReadAudio(lsn, count, out);
        for (long i = 0; i < n; ++i)
            if (faults_.Unreadable.count(lsn + static_cast<int32_t>(i)))
                return i;
        return n;
    }

private:
    std::unique_ptr<bw::TCdDisc> real_;
    TFaults faults_;
    long& reads_;
    long& readsAfterGone_;
};

class TCdStandIn final : public bw::TCdSystem {
public:
    std::vector<std::string> Devices;
    std::map<std::string, std::string> Discs; // device -> the image of the disc in it
    std::map<std::string, bw::TCdDoorState> Doors;
    std::vector<std::string> Calls; // "open D", "close D", "lock D", "unlock D"
    TStandInDisc::TFaults Faults;
    bool DiscOut = false; // every disc gone
    long Reads = 0;
    long ReadsAfterGone = 0;

    std::vector<std::string> DevicePaths() override { return Devices; }
    std::string HardwareText(const std::string& device) override {
        return "Vendor Model " + device.substr(device.size() - 1);
    }
    std::unique_ptr<bw::TCdDisc> OpenDisc(const std::string& path, bool image, std::string* why) override {
        const std::string disc = image ? path : Discs[path];
        if (DiscOut || disc.empty() || (!image && Doors[path] == bw::TCdDoorState::Open)) {
            if (why)
                *why = "No CD in CD drive \"" + path + "\"";
            return nullptr;
        }
        auto real = bw::SystemCd().OpenDisc(disc, true, why);
        if (!real)
            return nullptr;
        return std::make_unique<TStandInDisc>(std::move(real), Faults, Reads, ReadsAfterGone);
    }
    bw::TCdDoorState DoorState(const std::string& device) override { return Doors[device]; }
    bool MoveDoor(const std::string& device, bool open, std::string*) override {
        Calls.push_back((open ? "open " : "close ") + device);
        Doors[device] = open ? bw::TCdDoorState::Open : bw::TCdDoorState::Closed;
        return true;
    }
    bool LockDoor(const std::string& device, bool lock, std::string*) override {
        Calls.push_back((lock ? "lock " : "unlock ") + device);
        return true;
    }
};

} // namespace bwtest
