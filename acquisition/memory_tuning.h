// Process-wide allocator settings for programs that decode a packet stream.
#pragma once

namespace tovik {

// A safety net, not the mechanism that keeps a stream cheap. The assemblers build revolutions in
// frames their consumers hand back, and the live receivers and the playback engine hand their
// revolutions to the window as pooled SharedFrame handles that come back once released, so a
// steady stream allocates no frames. What may still free large blocks many times a second is
// anything that keeps or copies whole revolutions outside that path (a consumer connected to
// SendData, which receives copies, or per-revolution buffers of the drawing), and with glibc's
// defaults freed memory above 128 KiB goes back to the kernel, so that every new allocation
// faults its pages in again. Keeping up to 64 MB of freed heap avoids that. Call once at the
// start of main(); no effect elsewhere than glibc.
void tuneAllocatorForStreaming();

}  // namespace tovik
