#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

namespace bw {

inline constexpr int kPatternElements = 7;
// How many files a run may convert at once: 1 is one after another.
inline constexpr int kMaxParallelJobs = 16;

// The in-memory copy of the settings: read once at start, written once at close. Every part
// of the program reads and changes this copy, never the store.
struct TAppSettings {
    std::string OutputFolder;   // ends with "/" when set
    std::string SourceFolder;   // start folder of Add Folder; ends with "/"
    std::string StartDirectory; // the process's current directory at start
    bool OverwriteWithoutAsking = false;
    bool PlaySoundOp = true;
    bool OpenFolderOp = true;
    bool TryLoadFreeDB = true;
    // Files converted at once (1..kMaxParallelJobs). A bare TAppSettings converts one at a
    // time; the stored and first-start value is DefaultParallelJobs().
    int ParallelJobs = 1;
    // For converting a whole library. Off but for the covers, so that a run is what it was
    // before they existed until the user turns them on.
    bool AddSubFolders = false; // Add Folder (a drop, the command line) takes sub-folders too
    bool KeepStructure = false; // an output keeps the added folder's name and the path below it
    bool CarryCovers = true;    // the source's front cover goes into the output
    bool SkipExisting = false;  // an output newer than its source is not made again
    bool SafeNames = false;     // output path names that FAT and Windows accept
    // A CD run leaves a log, a cue sheet and a playlist beside its outputs.
    bool WriteRipLog = true;
    // "ReplayGain tags": 0 off, 1 track, 2 track and album (TReplayGainMode). Off by default,
    // so that outputs stay as they were unless the user asks.
    int ReplayGainMode = 0;
    // Read offsets in samples by drive model ("vendor model"; every disc image shares
    // kCdImageModel's). A model not listed reads with none.
    std::map<std::string, int> ReadOffsets;
    std::string FreeDBServer;
    std::string FreeDBEmail;
    int Timeout = 30;
    // Each ripped track is compared with the AccurateRip database on this server
    // ("host[:port]").
    bool VerifyAccurateRip = true;
    std::string AccurateRipServer;
    // With TryLoadFreeDB, a disc is looked up in MusicBrainz before the freedb database;
    // the contact (an e-mail address or a URL) goes into the User-Agent the service asks for.
    bool LookUpMusicBrainz = true;
    std::string MusicBrainzServer;
    std::string MusicBrainzContact;
    std::string CoverArtServer;
    bool CreateArtist = true;
    bool CreateAlbum = true;
    int Separator = 1;
    std::array<bool, kPatternElements> fint{false, true, true, true, false, false, false};
    std::array<std::string, kPatternElements> fstr{"Track number 1", "Track number 01", "Artist",
                                                   "Title", "Album", "Year", "Genre"};
};

// The stored values that live in the main window's controls rather than in TAppSettings.
// Filled from the window at close, applied to it at start.
struct TWindowSettings {
    int ActivePage = 0;
    int QualityItem = 1;
    bool ViewToolBar = true;
    bool ViewEncoder = true;
    bool ViewPlayer = true;
    bool ViewStatus = true;
    int Volume = 50;
    bool SAS = false;
    int Top = 150;
    int Left = 200;
    int Width = 905;
    int Height = 765;
};

// The first-start defaults of both halves.
TAppSettings DefaultAppSettings();
TWindowSettings DefaultWindowSettings();

// Where outputs go until the user picks a folder: the Desktop folder when there is one, else
// the Music folder, else the home folder; with "/" at its end. Many systems have no Desktop
// folder, and an output folder that does not exist would fail every first conversion.
std::string DefaultOutputFolder();

// One file per processor core, within 1..kMaxParallelJobs: each lane keeps about one core
// busy with its decoder and encoder.
int DefaultParallelJobs();
// A stored or typed count brought into 1..kMaxParallelJobs.
int ClampParallelJobs(int jobs);

// A folder path with the platform's separator at its end (unless empty).
std::string WithTrailingSeparator(std::string folder);

// The contact address sent to the disc database: login name, "@", host name. A shared
// made-up address gets every client using it banned by the database's operators.
std::string DefaultFreeDBEmail();
inline constexpr const char* kDefaultFreeDBServer = "gnudb.gnudb.org";
inline constexpr const char* kDefaultAccurateRipServer = "www.accuraterip.com";
inline constexpr const char* kDefaultMusicBrainzServer = "https://musicbrainz.org";
inline constexpr const char* kDefaultCoverArtServer = "https://coverartarchive.org";

} // namespace bw
