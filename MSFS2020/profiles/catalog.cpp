#include "profiles/catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <system_error>

#include "profiles/profile_file.h"

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace profiles {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// The folder the running program is in; empty when it cannot be told.
std::filesystem::path programFolder() {
    std::error_code error;
#if defined(_WIN32)
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
    return std::filesystem::path(buffer).parent_path();
#else
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path{} : self.parent_path();
#endif
}

#if defined(_WIN32)
std::filesystem::path environmentPath(const wchar_t* name) {
    const wchar_t* value = _wgetenv(name);
    return value != nullptr && *value != L'\0' ? std::filesystem::path(value) : std::filesystem::path{};
}
#else
std::filesystem::path environmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value) : std::filesystem::path{};
}
#endif

bool isProfileFile(const std::filesystem::directory_entry& entry) {
    std::error_code error;
    return entry.is_regular_file(error) && lowered(shownPath(entry.path().extension())) == ".toml";
}

}  // namespace

std::string shownPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::vector<Folder> searchFolders(const std::vector<std::string>& given, const Places& places) {
    std::vector<Folder> folders;
    const auto add = [&](const std::filesystem::path& path) {
        if (path.empty()) return;
        std::filesystem::path normal = path.lexically_normal();
        // "dir/" is "dir": searched once however it is written.
        if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
        for (const Folder& folder : folders) {
            if (folder.path == normal) return;
        }
        folders.push_back({normal});
    };
    // As the command line has them: the system's own encoding.
    for (const std::string& dir : given) add(std::filesystem::path(dir));
    const std::filesystem::path shipped =
        places.program.empty() ? std::filesystem::path{} : places.program / places.shipped;
    if (places.windows) {
        // The zip's profiles are beside the .exe, so the user's folder must
        // come first for its files to replace them.
        if (!places.app_data.empty()) add(places.app_data / "msfs-panel" / "profiles");
        add(shipped);
    } else {
        if (places.config_home.is_absolute()) {
            add(places.config_home / "msfs-panel" / "profiles");
        } else if (!places.home.empty()) {
            add(places.home / ".config" / "msfs-panel" / "profiles");
        }
        add(shipped);
    }
    return folders;
}

std::vector<Folder> searchFolders(const std::vector<std::string>& given) {
    Places places;
    places.program = programFolder();
    places.shipped = MSFS_PANEL_SHIPPED_PROFILES;
#if defined(_WIN32)
    places.windows = true;
    places.app_data = environmentPath(L"APPDATA");
#else
    places.config_home = environmentPath("XDG_CONFIG_HOME");
    places.home = environmentPath("HOME");
#endif
    return searchFolders(given, places);
}

bool Catalog::anyInvalid() const {
    return std::any_of(entries.begin(), entries.end(), [](const Entry& e) { return e.state == Entry::State::Invalid; });
}

namespace {

void addFile(Catalog& catalog, const std::filesystem::path& path) {
    Entry entry;
    entry.shown = shownPath(path);
    ReadResult read = readProfile(path, entry.shown);
    if (read.profile) {
        entry.state = Entry::State::Used;
        entry.profile = catalog.profiles.size();
        catalog.profiles.push_back(std::move(*read.profile));
    } else {
        entry.state = Entry::State::Invalid;
        entry.faults = std::move(read.faults);
    }
    catalog.entries.push_back(std::move(entry));
}

}  // namespace

Catalog loadFolders(const std::vector<Folder>& folders) {
    Catalog catalog;
    // File name to the file that has it.
    std::map<std::string, std::string> taken;
    for (const Folder& folder : folders) {
        catalog.folders_searched.push_back(shownPath(folder.path));
        std::error_code error;
        if (!std::filesystem::is_directory(folder.path, error)) continue;
        std::vector<std::filesystem::path> files;
        std::filesystem::directory_iterator it(folder.path, error);
        for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
            if (isProfileFile(*it)) files.push_back(it->path());
        }
        if (error) {
            catalog.unreadable.push_back(shownPath(folder.path) + ": " + error.message());
            continue;
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            const std::string name = shownPath(file.filename());
            if (const auto found = taken.find(name); found != taken.end()) {
                Entry replaced;
                replaced.shown = shownPath(file);
                replaced.state = Entry::State::Replaced;
                replaced.replaced_by = found->second;
                catalog.entries.push_back(std::move(replaced));
                continue;
            }
            taken.emplace(name, shownPath(file));
            addFile(catalog, file);
        }
    }
    return catalog;
}

Catalog loadFile(const std::filesystem::path& file) {
    Catalog catalog;
    addFile(catalog, file);
    return catalog;
}

void reportFaults(const Catalog& catalog, std::FILE* to) {
    for (const std::string& folder : catalog.unreadable) {
        std::fprintf(to, "msfs-panel: cannot list the profiles folder %s\n", folder.c_str());
    }
    for (const Entry& entry : catalog.entries) {
        for (const std::string& fault : entry.faults) std::fprintf(to, "%s\n", fault.c_str());
    }
}

void listProfiles(const Catalog& catalog, std::FILE* to) {
    if (catalog.entries.empty()) {
        std::string folders;
        for (const std::string& folder : catalog.folders_searched) folders += (folders.empty() ? "" : ", ") + folder;
        std::fprintf(to, "no profiles in %s\n", folders.empty() ? "(no folder)" : folders.c_str());
    }
    for (const Entry& entry : catalog.entries) {
        switch (entry.state) {
        case Entry::State::Used: {
            const Profile& profile = catalog.profiles[entry.profile];
            std::string match;
            for (const std::string& m : profile.match) match += " \"" + m + "\"";
            std::fprintf(to, "%s: \"%s\", match%s\n", entry.shown.c_str(), profile.name.c_str(),
                         match.empty() ? " nothing (used only with --profile)" : match.c_str());
            break;
        }
        case Entry::State::Replaced:
            std::fprintf(to, "%s: not used, replaced by %s\n", entry.shown.c_str(), entry.replaced_by.c_str());
            break;
        case Entry::State::Invalid:
            std::fprintf(to, "%s: invalid, not used\n", entry.shown.c_str());
            for (const std::string& fault : entry.faults) std::fprintf(to, "  %s\n", fault.c_str());
            break;
        }
    }
    for (const std::string& folder : catalog.unreadable) {
        std::fprintf(to, "cannot list the profiles folder %s\n", folder.c_str());
    }
}

std::string normalisedAircraftPath(std::string_view path) {
    std::string lower = lowered(path);
    std::replace(lower.begin(), lower.end(), '\\', '/');
    if (const std::size_t at = lower.find("simobjects"); at != std::string::npos) lower.erase(0, at);
    return lower;
}

const Profile* chooseProfile(const std::vector<Profile>& profiles, std::string_view path, std::string_view title) {
    const std::string lowerPath = normalisedAircraftPath(path);
    const std::string lowerTitle = lowered(title);
    const Profile* best = nullptr;
    std::size_t bestLength = 0;
    for (const Profile& profile : profiles) {
        for (const std::string& match : profile.match) {
            const std::string needle = lowered(match);
            if (lowerPath.find(needle) == std::string::npos && lowerTitle.find(needle) == std::string::npos) {
                continue;
            }
            if (best == nullptr || needle.size() > bestLength ||
                (needle.size() == bestLength && profile.file_name < best->file_name)) {
                best = &profile;
                bestLength = needle.size();
            }
        }
    }
    return best;
}

}  // namespace profiles
