// Splits the row loops of one large picture over two processors: the
// presentation of a movie frame must fit in a fraction of a frame period,
// and a 3840 x 1080 frame is more than one core does in that time.
#pragma once

#include <cstdint>
#include <functional>

// Runs body(first, last) over the rows [0, rows): the caller's thread takes
// the first band while a helper thread, kept for the purpose, takes the
// second.  Rows must be independent of each other.  Pictures under about a
// megabyte, a single processor, a call from inside a band, or a helper busy
// with another caller's rows run as one band on the calling thread.
void ForRowBands(int rows, int64_t bytes,
                 const std::function<void(int first, int last)>& body);

// Processor time the helper thread has spent on bands, in nanoseconds: with
// the caller's own time, what the split work cost.
int64_t RowBandHelperCpuNs();

// This thread's processor time so far, in nanoseconds.
int64_t ThreadCpuNs();
