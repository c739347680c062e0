#pragma once

// The names of the values in the settings store. Stored files, and every earlier version of
// the program, use exactly these names.
namespace bw::keys {

inline constexpr const char* kActivePage = "ActivePage";
inline constexpr const char* kQualityItem = "QualityItem";
inline constexpr const char* kOutputFolder = "OutputFolder";
inline constexpr const char* kViewToolBar = "ViewToolBar";
inline constexpr const char* kViewEncoder = "ViewEncoder";
inline constexpr const char* kViewPlayer = "ViewPlayer";
inline constexpr const char* kViewStatus = "ViewStatus";
inline constexpr const char* kVolume = "Volume";
inline constexpr const char* kSAS = "SAS";
inline constexpr const char* kConfirmOverWriteOp = "ConfirmOverWriteOp";
inline constexpr const char* kPlaySoundOp = "PlaySoundOp";
inline constexpr const char* kOpenFolderOp = "OpenFolderOp";
inline constexpr const char* kTop = "Top";
inline constexpr const char* kLeft = "Left";
inline constexpr const char* kWidth = "Width";
inline constexpr const char* kHeight = "Height";
inline constexpr const char* kTryLoadFreeDB = "TryLoadFreeDB";
inline constexpr const char* kFreeDBServer = "FreeDBServer";
inline constexpr const char* kFreeDBEmail = "FreeDBEmail";
inline constexpr const char* kTimeout = "Timeout";
inline constexpr const char* kCreateArtist = "CreateArtist";
inline constexpr const char* kCreateAlbum = "CreateAlbum";
inline constexpr const char* kSeparator = "Separator";
inline constexpr const char* kPath = "Path";
// Added with conversion lanes: stores written before it lack the value.
inline constexpr const char* kParallelJobs = "ParallelJobs";
// Added for converting whole libraries: older stores lack them too.
inline constexpr const char* kAddSubFolders = "AddSubFolders";
inline constexpr const char* kKeepStructure = "KeepStructure";
inline constexpr const char* kCarryCovers = "CarryCovers";
inline constexpr const char* kReplayGainMode = "ReplayGainMode";
inline constexpr const char* kSkipExisting = "SkipExisting";
inline constexpr const char* kSafeNames = "SafeNames";
// Added with rip verification.
inline constexpr const char* kVerifyAccurateRip = "VerifyAccurateRip";
inline constexpr const char* kAccurateRipServer = "AccurateRipServer";
// Added for verified rips.
inline constexpr const char* kWriteRipLog = "WriteRipLog";
// Added with the MusicBrainz lookup.
inline constexpr const char* kLookUpMusicBrainz = "LookUpMusicBrainz";
inline constexpr const char* kMusicBrainzServer = "MusicBrainzServer";
inline constexpr const char* kMusicBrainzContact = "MusicBrainzContact";
inline constexpr const char* kCoverArtServer = "CoverArtServer";
// A drive model's read offset: "ReadOffset_" + "vendor model".
inline constexpr const char* kReadOffsetPrefix = "ReadOffset_";
inline constexpr const char* kQualityTotal = "QualityTotal";
// Pattern elements: "fint" + i and "fstr" + i for i in 0..6.
inline constexpr const char* kFintPrefix = "fint";
inline constexpr const char* kFstrPrefix = "fstr";
// Preset groups: "QualityItem_" + n, each with a "Name".
inline constexpr const char* kPresetGroupPrefix = "QualityItem_";
inline constexpr const char* kPresetName = "Name";

} // namespace bw::keys
