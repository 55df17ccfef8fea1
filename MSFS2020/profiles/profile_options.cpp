#include "profiles/profile_options.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "profiles/catalog.h"
#include "profiles/profile_layer.h"

namespace profiles {

Taken takeArgument(int argc, char** argv, int& i, Options& options) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--list-profiles") == 0) {
        options.list = true;
        return Taken::Yes;
    }
    const bool folder = std::strcmp(arg, "--profiles") == 0;
    if (!folder && std::strcmp(arg, "--profile") != 0) return Taken::No;
    if (i + 1 >= argc || argv[i + 1][0] == '\0') {
        std::fprintf(stderr, "msfs-panel: %s needs a %s\n", arg, folder ? "folder" : "file");
        return Taken::Bad;
    }
    ++i;
    if (folder) {
        options.folders.emplace_back(argv[i]);
    } else {
        options.file = argv[i];
    }
    return Taken::Yes;
}

std::optional<int> prepareProfiles(const Options& options, bool verbose) {
    const bool fixed = !options.file.empty();
    Catalog catalog =
        fixed ? loadFile(std::filesystem::path(options.file)) : loadFolders(searchFolders(options.folders));
    if (options.list) {
        listProfiles(catalog, stdout);
        return catalog.anyInvalid() ? 2 : 0;
    }
    reportFaults(catalog, stderr);
    if (fixed && catalog.profiles.empty()) {
        return 2;
    }
    if (verbose) {
        for (const Entry& entry : catalog.entries) {
            if (entry.state == Entry::State::Used) {
                std::fprintf(stderr, "profile \"%s\" from %s\n", catalog.profiles[entry.profile].name.c_str(),
                             entry.shown.c_str());
            }
        }
    }
    profileLayer.use(std::move(catalog.profiles), fixed);
    profileLayer.verbose = verbose;
    return std::nullopt;
}

}  // namespace profiles
