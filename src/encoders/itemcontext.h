#pragma once

#include "audio/audiostream.h"
#include "core/dialogs.h"
#include "common/instancetemp.h"
#include "core/jobitem.h"

#include <cstddef>
#include <span>
#include <string>

namespace bw {

class TAudioStream;

// What a back-end sees of the conversion run while it writes one item: the job item with
// its TargetPath, the opened conversion stream, the message boxes, and the row's status,
// gauge and cancel flag. The run implements it; a back-end owns nothing of it.
class TItemContext {
public:
    virtual ~TItemContext() = default;
    virtual const TmyMusicFile& CurrentJob() const = 0;
    virtual TAudioStream& ConversionStream() = 0;
    virtual TDialogs& Dialogs() = 0;
    // The current row's Status text.
    virtual void SetStatus(const std::string& status) = 0;
    // The current item's percentage (0..100), shown on the current-file gauge.
    virtual void SetItemPercent(int percent) = 0;
    // Lets the user interface breathe between blocks (Cancel is pressed here).
    virtual void ProcessEvents() = 0;
    virtual bool CancelCurrent() const = 0;
    virtual void ClearCancelCurrent() = 0;
    // Where the back-end keeps its working files for this item, with a trailing separator;
    // empty with the reason in *why when there is none. An item converted beside others
    // gets its lane's folder; alone, the instance folder.
    virtual std::string TemporaryFolder(std::string* why) { return LaneTemporaryFolder(0, why); }
    // Whether the source's front cover goes into the output.
    virtual bool CarryCovers() const { return false; }
    // The cores this item may keep busy: all of them when it is converted alone, one when
    // every lane of the run is busy.
    virtual int CoreShare() const { return 1; }
    // A remark about the item that is no failure (a cover left out), shown with its row.
    virtual void AddNote(const std::string& /*note*/) {}
    // The PCM handed to the item's encoder, in the order it is encoded, so that the run can
    // measure its loudness. Every back-end that writes tags calls it for each block.
    virtual void MeasureLoudness(const TChannelInfo& /*info*/,
                                 std::span<const std::byte> /*pcm*/) {}
};

// Shows an error about the current item and sets its status to "Error". False, so that a
// back-end can end with it.
inline bool FailItem(TItemContext& context, const std::string& message) {
    context.Dialogs().Show(TMessageKind::Error, "Brindlewave", message);
    context.SetStatus("Error");
    return false;
}

// One step of an encoding loop: shows the item's percent and lets the window breathe. True
// when the user cancelled the item, whose status then reads "N% Canceled".
inline bool ItemCancelledAt(TItemContext& context, int percent) {
    context.SetItemPercent(percent);
    context.ProcessEvents();
    if (!context.CancelCurrent())
        return false;
    context.SetStatus(std::to_string(percent) + "% Canceled");
    return true;
}

} // namespace bw
