// The command line's profile options, and what the program does with them
// before it runs: reading the profiles, listing them, or refusing a bad one.
#ifndef PROFILES_PROFILE_OPTIONS_H
#define PROFILES_PROFILE_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

namespace profiles {

struct Options {
    std::vector<std::string> folders;  // --profiles DIR, in order
    std::string file;                  // --profile FILE: that profile for every aircraft
    bool list = false;                 // --list-profiles
};

// The lines the program's usage and help text gain.
inline constexpr const char* kUsageLines = "       msfs-panel [--profiles DIR]... [--profile FILE] [--list-profiles]\n";
inline constexpr const char* kHelpLines =
    "  --profiles DIR  also read the profiles in DIR, before the user's and the\n"
    "                  shipped ones (repeatable; the first file of a name wins)\n"
    "  --profile FILE  use the profile FILE whatever the aircraft; a fault in it\n"
    "                  ends the program (status 2)\n"
    "  --list-profiles print each profile found (file, name, match strings, or\n"
    "                  its faults) and end: status 0, or 2 if one is invalid\n";

enum class Taken { No, Yes, Bad };

// Takes argv[i] (and its value, advancing i) if it is a profile option.
// Bad: its value is missing (said on standard error).
Taken takeArgument(int argc, char** argv, int& i, Options& options);

// Reads the profiles the options name and hands them to the profile layer,
// saying each fault once. Returns an exit status when the program must end
// here (--list-profiles; a bad --profile), nothing when it goes on to run.
std::optional<int> prepareProfiles(const Options& options, bool verbose);

}  // namespace profiles

#endif
