// Reading one profile file (TOML) into a Profile, with every fault named as
// "FILE:LINE: what is wrong".
#ifndef PROFILES_PROFILE_FILE_H
#define PROFILES_PROFILE_FILE_H

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"

namespace profiles {

// Larger files are refused unread: a profile is a page of text.
inline constexpr std::uintmax_t kMaxProfileBytes = 256 * 1024;
// At most this many faults are listed for one file.
inline constexpr std::size_t kMaxFaults = 10;

struct ReadResult {
    std::optional<Profile> profile;   // set when the file has no fault
    std::vector<std::string> faults;  // "FILE:LINE: what is wrong", or "FILE: ..." where no line applies
};

// Reads and checks the file at `path`; messages name it as `shown`.
ReadResult readProfile(const std::filesystem::path& path, const std::string& shown);

// The same for a file's text.
ReadResult parseProfile(std::string_view text, const std::string& shown, const std::string& file_name);

// One action or LED term as written in a string (exposed for tests). On a
// fault, nothing comes back and `fault` says what is wrong.
std::optional<Action> parseAction(std::string_view text, std::string& fault);
std::optional<LedTerm> parseLedTerm(std::string_view text, std::string& fault);

}  // namespace profiles

#endif
