// How the link to the simulator fares, beyond connected or not: a simulator
// that has gone quiet, and connections that end as soon as they are made.
// Each change is said once on standard error.
#ifndef MSFS_PANEL_LINK_HEALTH_H
#define MSFS_PANEL_LINK_HEALTH_H

#include <chrono>
#include <cstdint>

using LinkClock = std::chrono::steady_clock;

// A simulator that has sent nothing for this long is said to be silent: its
// data blocks come every frame, so this is no network hiccup but a simulator
// loading, stopped or hung. The link itself may still be up.
inline constexpr std::chrono::seconds kSilence{5};

// Says once when the simulator has sent nothing for kSilence, and once when
// it sends again. Works on whatever SimConnect library is linked: it counts
// the records the dispatch delivered.
class SilenceWatch {
public:
    // A connection began at `now`, `records` delivered so far.
    void start(std::uint64_t records, LinkClock::time_point now);
    // After each dispatch.
    void check(std::uint64_t records, LinkClock::time_point now);
    bool silent() const { return said_; }

private:
    std::uint64_t records_ = 0;
    LinkClock::time_point last_heard_{};
    bool said_ = false;
};

// A connection that ends within this long of being made counts as ending
// at once (a server that answers the Open and hangs up, or sends QUIT
// first): the next attempt waits, as after a failed one.
inline constexpr std::chrono::seconds kBriefConnection{5};

// The waits between attempts with --keep-running: 1, 2, 4, then 5 s, after
// every failed attempt and every connection that ended at once; a
// connection that lasted starts the series again.
class Backoff {
public:
    // The wait before the next attempt; the one after it is longer.
    std::chrono::seconds next();
    void reset() { next_ = kFirst; }

    static constexpr std::chrono::seconds kFirst{1};
    static constexpr std::chrono::seconds kLongest{5};

private:
    std::chrono::seconds next_ = kFirst;
};

// How connections end, said once per change: while they keep ending at
// once for the same reason, the reason is not said again.
class EndNotices {
public:
    // Says `what` ("the simulator quit", "connection to ... lost: ...")
    // unless it repeats the end of the previous connection that also ended
    // at once; says too, once per series, that the next attempts wait.
    void ended(const char* what, bool brief);

private:
    char last_[256] = "";
    bool brief_ = false;
};

#endif
