#ifndef MSFS_PANEL_QUIT_FLAG_H
#define MSFS_PANEL_QUIT_FLAG_H

#include <atomic>
#include <cstdint>

// Non-zero asks the main loop to end after the current pass. Set from a
// signal handler, from Windows' console handler (which runs on a thread of
// its own) and by the simulator's QUIT record: a lock-free atomic is safe for
// all three.
extern std::atomic<std::int32_t> quitFlag;
static_assert(std::atomic<std::int32_t>::is_always_lock_free);

#endif
