// Where profiles are looked for, the profiles found there, and which of them
// an aircraft gets.
#ifndef PROFILES_CATALOG_H
#define PROFILES_CATALOG_H

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"

namespace profiles {

struct Folder {
    std::filesystem::path path;
};

// The folders in the order they are searched, each once: `given`
// (--profiles, in their order), the user's ($XDG_CONFIG_HOME or
// ~/.config, on Windows %APPDATA%, + msfs-panel/profiles), then the shipped
// ones beside the program (on Windows profiles\ beside the .exe, where the
// zip puts them). The shipped folder is found from where the program itself
// is, so that a program in a build tree never reads an installed package's
// profiles.
std::vector<Folder> searchFolders(const std::vector<std::string>& given);

// What that order depends on besides --profiles, as the running program
// finds it (its folder, its environment) or a test gives it.
struct Places {
    bool windows = false;
    std::filesystem::path program;      // the program's folder; empty when unknown
    std::filesystem::path shipped;      // the shipped profiles, from `program`
    std::filesystem::path app_data;     // Windows: %APPDATA%
    std::filesystem::path config_home;  // elsewhere: $XDG_CONFIG_HOME, when absolute
    std::filesystem::path home;         // elsewhere: $HOME
};
std::vector<Folder> searchFolders(const std::vector<std::string>& given, const Places& places);

struct Entry {
    enum class State : std::uint8_t { Used, Invalid, Replaced };
    std::string shown;  // the file's path
    State state = State::Used;
    std::string replaced_by;          // Replaced: the file that wins
    std::vector<std::string> faults;  // Invalid
    std::size_t profile = 0;          // Used: index into Catalog::profiles
};

struct Catalog {
    std::vector<Profile> profiles;  // the valid ones in use
    std::vector<Entry> entries;     // every file found, in search order
    std::vector<std::string> folders_searched;
    // A folder that exists but could not be listed.
    std::vector<std::string> unreadable;

    bool anyInvalid() const;
};

// Reads every *.toml file of the folders; of two files of the same name the
// one in the earlier folder is used (even if it is invalid) and the other
// is not read.
Catalog loadFolders(const std::vector<Folder>& folders);
// The catalog of one file (--profile).
Catalog loadFile(const std::filesystem::path& file);

// Each fault of each invalid file, and each unreadable folder, one line each.
void reportFaults(const Catalog& catalog, std::FILE* to);
// --list-profiles: each file found with its name and match strings, or its
// faults, or what replaces it.
void listProfiles(const Catalog& catalog, std::FILE* to);

// The profile whose match string is the longest to be found (ignoring case)
// in the aircraft's path (from its "SimObjects" folder on) or its title; of
// two as long, the one whose file name sorts first. Null when none matches.
const Profile* chooseProfile(const std::vector<Profile>& profiles, std::string_view path, std::string_view title);

// The aircraft.cfg path from "SimObjects" on, in lower case: the same
// aircraft whether the simulator gives the long or the short path.
std::string normalisedAircraftPath(std::string_view path);

// A path as UTF-8 text, for messages, whatever the platform's encoding.
std::string shownPath(const std::filesystem::path& path);

}  // namespace profiles

#endif
