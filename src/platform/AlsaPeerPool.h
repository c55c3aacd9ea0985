#pragma once
// The input room of another sequencer client. libasound reads the pool of its own client only; the
// kernel answers the same request for any client, so this asks it directly (kept apart: the
// kernel's header and libasound's declare the same structures).

namespace Alsa {

// Through the sequencer descriptor fd: the cells of the input pool of client and how many of them
// are free. False when the client is gone or the kernel refuses; a kernel client (a driver) has
// no input pool (pool 0): it takes events as they come.
bool PeerInputPool(int fd, int client, int& pool, int& free);

} // namespace Alsa
