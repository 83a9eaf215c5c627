// Process-wide allocator settings for programs that decode a packet stream.
#pragma once

namespace tovik {

// A safety net for programs that free a revolution's worth of memory many times a second. The
// assemblers build revolutions in frames their consumers hand back, so decoding itself allocates
// nothing in a steady stream; but a consumer that keeps its frames, and Qt's queued signals,
// which copy each revolution (about a megabyte in 65 lists) and free the copy once it is handled,
// still allocate and free 10 to 40 times a second. With glibc's defaults the freed memory above
// 128 KiB goes back to the kernel and every new copy faults its pages in again. Keeping up to
// 64 MB of freed heap avoids that. Call once at the start of main(); no effect elsewhere than
// glibc.
void tuneAllocatorForStreaming();

}  // namespace tovik
