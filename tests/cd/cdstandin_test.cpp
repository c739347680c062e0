// What no real drive can be made to do on demand (doors, locks, a dozen drives, scratched
// sectors, a disc taken out while it is read), through a stand-in for the lowest layer.
// Discs are real generated images read through libcdio; the stand-in only decides what
// each low-level read returns.

#include "cd/cddrives.h"
#include "cd/cdtrackstream.h"
#include "cli/cdcommand.h"
#include "support/cdimages.h"
#include "support/cdstandin.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

namespace {

using bw::TCdDoorState;

using TStandInSystem = bwtest::TCdStandIn;

TEST(CdStandIn, DriveListHoldsAtMostTenDevicesThenImages) {
    TStandInSystem system;
    bw::TCdDriveList list(system);
    list.Fill();
    EXPECT_TRUE(list.Empty()); // no drive: nothing listed, nothing ready
    EXPECT_FALSE(list.IsReady(0));
    std::ostringstream out, err;
    EXPECT_EQ(bw::RunCdCommand({"drives"}, out, err, system), 0);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(bw::RunCdCommand({"tracks"}, out, err, system), 1);
    EXPECT_NE(err.str().find("no CD drive \"0\""), std::string::npos) << err.str();

    for (int count : {9, 10, 11, 12}) {
        SCOPED_TRACE(count);
        system.Devices.clear();
        for (int i = 0; i < count; ++i)
            system.Devices.push_back("/dev/sr" + std::string(1, static_cast<char>('a' + i)));
        list.Fill();
        ASSERT_EQ(list.Count(), static_cast<size_t>(std::min(count, 10)));
        EXPECT_EQ(list.At(0).Text, "/dev/sra: Vendor Model a");
        EXPECT_EQ(list.At(list.Count() - 1).Path, count >= 10 ? "/dev/srj" : "/dev/sri");
    }

    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.5}});
    EXPECT_EQ(list.AddImage(image.Sheet), 10);
    EXPECT_EQ(list.AddImage(image.Sheet), 10); // listed once
    list.Fill();                                // images stay after the devices
    EXPECT_EQ(list.Find(image.Sheet), 10);
    EXPECT_EQ(list.Find("10"), 10);
    EXPECT_EQ(list.Find("/dev/src"), 2);
    EXPECT_EQ(list.Find("11"), -1);
    EXPECT_EQ(list.Find("/dev/srk"), -1);
}

TEST(CdStandIn, DoorWatchOpenCloseAndLock) {
    TStandInSystem system;
    system.Devices = {"/dev/sr0"};
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{0.5}});
    bw::TCdDriveList list(system);
    list.Fill();
    const int image_drive = list.AddImage(image.Sheet);
    ASSERT_EQ(image_drive, 1);

    EXPECT_FALSE(list.DoorIsOpen(0));
    EXPECT_TRUE(list.OpenCloseDoor(0)); // closed: opens
    EXPECT_TRUE(list.DoorIsOpen(0));
    EXPECT_TRUE(list.OpenCloseDoor(0)); // open: closes
    EXPECT_FALSE(list.DoorIsOpen(0));
    EXPECT_TRUE(list.LockDoor(0));
    EXPECT_TRUE(list.UnlockDoor(0));
    EXPECT_EQ(system.Calls, (std::vector<std::string>{"open /dev/sr0", "close /dev/sr0",
                                                      "lock /dev/sr0", "unlock /dev/sr0"}));

    // An image's door never opens, and locking it asks nothing of any device.
    system.Calls.clear();
    std::string why;
    EXPECT_FALSE(list.OpenCloseDoor(image_drive, &why));
    EXPECT_EQ(why, "A CD image has no door");
    EXPECT_FALSE(list.DoorIsOpen(image_drive));
    EXPECT_TRUE(list.LockDoor(image_drive));
    EXPECT_TRUE(list.UnlockDoor(image_drive));
    EXPECT_TRUE(system.Calls.empty());
}

TEST(CdStandIn, UnreadableSectorsAreRetriedThenCountedAndReported) {
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "scratched", {{1.0}, {4.0}});
    TStandInSystem system;
    const int32_t bad = image.StartLsn[1] + 100;
    system.Faults.Unreadable = {bad, bad + 1, bad + 2, bad + 40};
    bw::TCdDriveList list(system);
    const int drive = list.AddImage(image.Sheet);
    ASSERT_GE(drive, 0);

    // The first track holds no bad sector: read clean.
    auto clean = bw::TCdTrackStream::Open(list.At(drive), 1, nullptr, nullptr, system);
    ASSERT_NE(clean, nullptr);
    std::vector<std::byte> block(10240);
    while (clean->Read(block) > 0) {
    }
    EXPECT_TRUE(clean->DeliveredAll());
    EXPECT_EQ(clean->ErrorText(), "");

    auto stream = bw::TCdTrackStream::Open(list.At(drive), 2, nullptr, nullptr, system);
    ASSERT_NE(stream, nullptr);
    std::vector<std::byte> all;
    for (;;) {
        const int64_t n = stream->Read(block);
        ASSERT_GE(n, 0) << stream->ErrorText();
        if (n == 0)
            break;
        all.insert(all.end(), block.begin(), block.begin() + n);
    }
    // The track still has its full length, and only the bad sectors differ from the audio
    // put in: the good ones beside them are read on their own.
    const auto& pcm = image.Pcm[1];
    ASSERT_EQ(all.size(), pcm.size());
    std::set<int32_t> wrong;
    for (int32_t i = 0; i * 2352 < static_cast<int32_t>(all.size()); ++i)
        if (!std::equal(all.begin() + i * 2352, all.begin() + (i + 1) * 2352, pcm.begin() + i * 2352))
            wrong.insert(image.StartLsn[1] + i);
    EXPECT_EQ(wrong, system.Faults.Unreadable);
    // Each of the four bad sectors counted once, however often the reader gave it up.
    EXPECT_EQ(stream->SkippedSectors(), 4);
    EXPECT_FALSE(stream->DeliveredAll());
    EXPECT_EQ(stream->ErrorText(), "CD Track 2: 4 sectors could not be read and were lost");
}

TEST(CdStandIn, DiscTakenOutMidReadFailsAtOnce) {
    bwtest::TTempDir dir;
    const auto image = bwtest::MakeImage(dir.Path().string(), "disc", {{4.0}, {1.0}});
    for (bool silently : {false, true}) {
        SCOPED_TRACE(silently ? "dead drive, no 'no disc' report" : "disc taken out");
        TStandInSystem system;
        bw::TCdDriveList list(system);
        const int drive = list.AddImage(image.Sheet);
        auto stream = bw::TCdTrackStream::Open(list.At(drive), 1, nullptr, nullptr, system);
        ASSERT_NE(stream, nullptr);
        // Taken out after some reads into the track.
        system.Faults.GoneAfterReads = system.Reads + 10;
        system.Faults.GoneSilently = silently;
        stream.reset();
        stream = bw::TCdTrackStream::Open(list.At(drive), 1, nullptr, nullptr, system);
        ASSERT_NE(stream, nullptr);

        std::vector<std::byte> block(10240);
        int64_t n = 0;
        uint64_t got = 0;
        while ((n = stream->Read(block)) > 0)
            got += static_cast<uint64_t>(n);
        if (silently) {
            // Nothing tells a dead drive from a scratched disc here: the reads that return
            // nothing end in a verdict within a bounded number of them, and the track is
            // not taken for read in full.
            EXPECT_LE(system.ReadsAfterGone, 300);
            EXPECT_FALSE(stream->DeliveredAll());
            EXPECT_TRUE(stream->ErrorText().starts_with("CD Track 1: ")) << stream->ErrorText();
            continue;
        }
        ASSERT_EQ(n, -1);
        EXPECT_LT(got, stream->LengthBytes());
        EXPECT_EQ(stream->LastError(), bw::TAudioError::Read);
        EXPECT_EQ(stream->ErrorText(), "CD Track 1: the disc in \"" + image.Sheet +
                                           "\" was taken out or can no longer be read");
        EXPECT_FALSE(stream->DeliveredAll());
        // No retrying a disc that is not there: one read finds it gone.
        EXPECT_EQ(system.ReadsAfterGone, 1);
        const long reads = system.Reads;
        EXPECT_EQ(stream->Read(block), -1);
        EXPECT_EQ(system.Reads, reads);

        // Every later track of that drive fails at once too.
        system.DiscOut = true;
        bw::TAudioError error{};
        std::string why;
        EXPECT_EQ(bw::TCdTrackStream::Open(list.At(drive), 2, &error, &why, system), nullptr);
        EXPECT_EQ(error, bw::TAudioError::FileOpen);
        EXPECT_EQ(why, "No CD in CD drive \"" + image.Sheet + "\"");
    }
}

} // namespace
