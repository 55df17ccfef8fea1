#include "driver/link_health.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void SilenceWatch::start(std::uint64_t records, LinkClock::time_point now) {
    records_ = records;
    last_heard_ = now;
    said_ = false;
}

void SilenceWatch::check(std::uint64_t records, LinkClock::time_point now) {
    if (records != records_) {
        records_ = records;
        if (said_) {
            const auto quiet = std::chrono::duration_cast<std::chrono::seconds>(now - last_heard_);
            std::fprintf(stderr, "msfs-panel: the simulator is sending again (after %lld s of silence)\n",
                         static_cast<long long>(quiet.count()));
            said_ = false;
        }
        last_heard_ = now;
        return;
    }
    if (!said_ && now - last_heard_ >= kSilence) {
        // Events sent meanwhile are delivered when it resumes; the user
        // should know why the panel seems to do nothing.
        std::fprintf(stderr,
                     "msfs-panel: the simulator has sent nothing for %lld s (loading, paused or not responding); "
                     "the panel's actions wait for it\n",
                     static_cast<long long>(kSilence.count()));
        said_ = true;
    }
}

std::chrono::seconds Backoff::next() {
    const std::chrono::seconds wait = next_;
    next_ = std::min(next_ * 2, kLongest);
    return wait;
}

void EndNotices::ended(const char* what, bool brief) {
    const bool repeated = brief && brief_ && std::strcmp(what, last_) == 0;
    if (!repeated) {
        std::fprintf(stderr, "msfs-panel: %s\n", what);
    }
    if (brief && !brief_) {
        std::fprintf(stderr,
                     "msfs-panel: the connection ended within %lld s; waiting longer between attempts until one "
                     "lasts\n",
                     static_cast<long long>(kBriefConnection.count()));
    }
    brief_ = brief;
    std::snprintf(last_, sizeof last_, "%s", what);
}
