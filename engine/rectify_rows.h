// The row-wise resampling pass: what users run. It gives the same bytes as
// the per-pixel pass over the plot surfaces, which stays as the yardstick,
// but it works on whole row segments with the surfaces' geometry taken out
// of the loop, and it shares each progress step among worker threads.
//
// The user-interface thread keeps everything the user sees: it reads the
// sampling choice, sets the progress and lets window messages through at
// exactly the pixels where the per-pixel pass does. The choice can only
// change while messages are let through, so reading it once per progress
// step gives the same pixels as reading it for every pixel.
#pragma once

#include "engine/rectify.h"

namespace planora::detail {

// Fills job.Target from job.Source through the frame; job has been checked
// and the frame computed. Preview selects the nearest pixel and the preview
// progress scale, as in the per-pixel pass.
void RectifyRows(const TRectifyJob& job, const TRectifyResult& frame, TRectifyUi& ui);

// Worker threads of a pass with that many pixels per progress step: as
// many as requested, or for 0 one per core as long as each gets enough
// work to be worth waking.
int WorkerThreadsFor(int requested, long long pixelsPerStep);

}  // namespace planora::detail
