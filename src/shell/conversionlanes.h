#pragma once

// Conversion lanes: a run that converts up to ParallelJobs checked rows at once.
//
// Design (the code below this block is being built up in steps; see the state at the end).
//
// The run today is one loop on the window's thread: open the row's stream, ask the
// questions, call the target's back-end, which pulls blocks from the stream and pushes
// them into an encoder, calling TItemContext::ProcessEvents between blocks so the window
// stays alive and Cancel can be pressed. Lanes keep every back-end as it is and change who
// drives it.
//
// 1. One lane per slot, 1..ParallelJobs (never more than the checked rows). A lane owns
//    what one item needs and nothing shared: its TAudioStream, its TItemContext (the row
//    index, its cancel flag, its percent), the back-end's encoder process or writer, and a
//    temporary sub-folder of the per-instance folder ("lane-<k>/"), so the back-ends keep
//    their file names (temp.wav, temp2.wav) without two lanes writing the same file. The
//    back-ends get the folder from their context instead of asking for the instance folder.
//    With one lane the context hands out the instance folder itself: a run with one lane is
//    today's run, step for step.
//
// 2. Who runs a lane. The back-ends are written as straight-line loops, so each lane runs
//    its back-end on a worker thread of its own (std::jthread), and the window's thread
//    becomes the dispatcher: it starts rows in list order as lanes free up, and serves the
//    lanes' requests. A lane's context never touches rows_, the observer or the dialogs
//    directly; it posts to the dispatcher (a mutex-guarded queue plus a wake-up through
//    QMetaObject::invokeMethod / the CLI's poll loop) and, for a question, waits for the
//    answer. Status, Reason and percent thus change only on the dispatcher's thread, where
//    the observer expects them. Outside encoders spend their time in the encoder process,
//    not in our thread, so a lane thread per item costs one mostly-blocked thread; feeding
//    their pipes from the event loop with non-blocking writes (TEncoderPipe already has the
//    non-blocking write path and its wait hook) is the follow-up that removes those threads
//    for MP3/Ogg/FLAC/Musepack, once every back-end has been split into start / feed-one-
//    block / finish steps. The Monkey's Audio writer and the resampler keep their own
//    worker threads either way.
//
// 3. Shared state a lane may not race on: the settings (read only during a run, except
//    OverwriteWithoutAsking, which only the dispatcher changes), the list of output folders
//    that could not be made, and the folder creation for CD artist/album levels. All three
//    are done by the dispatcher before the lane starts (target path, folder, overwrite
//    question), so a lane starts with everything decided and only writes its own output.
//
// 4. Questions. The overwrite question belongs to the start of an item, so the dispatcher
//    asks it before handing the row to a lane: one question at a time, while the running
//    lanes go on (their posts queue up behind the open dialog and are served when it
//    closes). Cancel's question: "Yes" sets the cancel flag of every running lane (each
//    back-end ends its item as a cancel does today) and the run goes on with the next rows;
//    "Yes to All" also stops starting rows and ends the run once the lanes have finished.
//    An error ends only its own lane's item.
//
// 5. The progress window. The total gauge counts finished items over all checked ones;
//    From/To and the item gauge show the lane that started last. The door lock is taken
//    before the first lane starts and given back after the last one ends; the result
//    window, the beep and the folder opening stay where they are, after Run() returns.
//
// 6. The same outputs with 1 and N lanes: every lane does exactly what the single loop did
//    for its row; only the order in which rows finish changes, and nothing written depends
//    on it (target names are decided in list order by the dispatcher).
//
// State: ParallelJobs (setting, settings dialog, --jobs) and the lanes' temporary
// sub-folders are in; the dispatcher, the lane contexts and the threaded back-ends are not.
