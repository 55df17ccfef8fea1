// A second computer on a cable, for tests that need one to vanish: a network
// namespace joined to ours by a veth pair, each end with an address of a
// /30 of its own. Setting the far end down cuts the cable without a word to
// either side, as a power cut or a pulled cable does. Needs root (and `ip`);
// `skipReason()` says why not when it cannot be made.
#ifndef TESTS_NETWORK_NAMESPACE_H
#define TESTS_NETWORK_NAMESPACE_H

#include <functional>
#include <string>
#include <vector>

class FarComputer {
public:
    FarComputer();
    // Removes the namespace and the pair, whatever state they are in.
    ~FarComputer();
    FarComputer(const FarComputer&) = delete;
    FarComputer& operator=(const FarComputer&) = delete;

    // Empty when the namespace is up; else why the test cannot run.
    const std::string& skipReason() const { return skip_reason_; }

    // The far computer's address, as SimConnect.cfg would name it, and
    // ours as it sees us.
    const std::string& address() const { return far_address_; }
    const std::string& nearAddress() const { return near_address_; }

    // Runs `start` with the calling thread inside the namespace, so that the
    // processes it starts live on the far computer; false if it cannot enter.
    bool inside(const std::function<void()>& start);

    // The far end of the cable down (the computer gone) or up again.
    bool cableUnplugged(bool unplugged);

    // Runs `ip` with `args`; true on status 0, else `error` holds its output.
    static bool ip(const std::vector<std::string>& args, std::string& error);

private:
    std::string name_, near_link_, far_link_, near_address_, far_address_;
    std::string skip_reason_;
    bool made_ = false;
};

#endif
