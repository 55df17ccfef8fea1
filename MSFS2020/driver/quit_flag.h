#ifndef MSFS_PANEL_QUIT_FLAG_H
#define MSFS_PANEL_QUIT_FLAG_H

#include <csignal>

// Non-zero asks the main loop to end after the current pass. Set from a
// signal or console handler (hence sig_atomic_t and nothing else done there)
// and by the simulator's QUIT record.
extern volatile std::sig_atomic_t quitFlag;

#endif
