// Profiles with the real binaries: where the program finds them, what it
// says of them, and what a chosen profile makes of the panel against the
// emulator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace {

using namespace std::chrono_literals;

struct Dir : e2e::TempDir {
    std::string operator/(const std::string& name) const { return path() + "/" + name; }
};

void put(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    e2e::writeFile(path, text);
}

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// The program alone, in `dir` (its HOME too).
Ran runProgram(const Dir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{MSFS_PANEL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    Ran ran;
    ran.status = e2e::waitFor(e2e::spawn(argv, dir.path(), dir / "out.txt", dir / "err.txt"), 10s);
    ran.out = e2e::readFile(dir / "out.txt");
    ran.err = e2e::readFile(dir / "err.txt");
    return ran;
}

struct ProfilesE2e : ::testing::Test {
    // The tester's own configuration must not reach the program.
    void SetUp() override { ::unsetenv("XDG_CONFIG_HOME"); }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
};

constexpr const char* kGood = "name = \"Good\"\nmatch = [\"A32NX\", \"Other\"]\n";

TEST_F(ProfilesE2e, ListProfilesNamesEachFileAndItsFaults) {
    Dir dir;
    const std::string mine = dir / ".config/msfs-panel/profiles";
    const std::string given = dir / "given";
    put(given + "/a.toml", kGood);
    put(given + "/broken.toml", "name = \"B\"\n\n[COM3]\npush = \"none\"\n");
    put(mine + "/a.toml", "name = \"Replaced\"\n");
    put(mine + "/z.toml", "name = \"Mine\"\n");
    put(mine + "/notes.txt", "not a profile\n");
    const Ran ran = runProgram(dir, {"--profiles", given, "--list-profiles"});
    EXPECT_EQ(ran.status, 2);  // one is invalid
    EXPECT_EQ(ran.out, given + "/a.toml: \"Good\", match \"A32NX\" \"Other\"\n" + given +
                           "/broken.toml: invalid, not used\n" + "  " + given +
                           "/broken.toml:3: unknown mode \"COM3\" (modes: COM1 COM2 NAV1 NAV2 FMS1 "
                           "FMS2 AP XPDR)\n" +
                           mine + "/a.toml: not used, replaced by " + given + "/a.toml\n" + mine +
                           "/z.toml: \"Mine\", match nothing (used only with --profile)\n");
    EXPECT_EQ(ran.err, "");
}

TEST_F(ProfilesE2e, TheUsersFolderFollowsXdgConfigHome) {
    Dir dir;
    put(dir / "xdg/msfs-panel/profiles/x.toml", kGood);
    put(dir / ".config/msfs-panel/profiles/home.toml", kGood);
    ::setenv("XDG_CONFIG_HOME", (dir / "xdg").c_str(), 1);
    const Ran ran = runProgram(dir, {"--list-profiles"});
    EXPECT_EQ(ran.status, 0);
    EXPECT_EQ(ran.out, dir / "xdg/msfs-panel/profiles/x.toml" + ": \"Good\", match \"A32NX\" \"Other\"\n");
}

TEST_F(ProfilesE2e, NoProfilesSaysWhereItLooked) {
    Dir dir;
    const Ran ran = runProgram(dir, {"--list-profiles"});
    EXPECT_EQ(ran.status, 0);
    // The user's folder, then the shipped one beside this (build tree's) program.
    const std::string shipped =
        (std::filesystem::path(MSFS_PANEL_BIN).parent_path() / ".." / "share" / "msfs-panel" / "profiles")
            .lexically_normal()
            .string();
    EXPECT_EQ(ran.out, "no profiles in " + dir / ".config/msfs-panel/profiles, " + shipped + "\n");
}

TEST_F(ProfilesE2e, ABadProfileGivenWithProfileEndsTheProgram) {
    Dir dir;
    put(dir / "bad.toml", "name = \"Bad\"\n[AP]\nouter.cw = \"Q:NOPE\"\n");
    const Ran bad = runProgram(dir, {"--profile", dir / "bad.toml"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, dir / "bad.toml" +
                           ":3: unknown action kind \"Q\" in \"Q:NOPE\" (actions: K:, L:, B:, H:, "
                           "RPN:, builtin or none)\n");
    const Ran missing = runProgram(dir, {"--profile", dir / "missing.toml"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, dir / "missing.toml" + ": cannot read it: No such file or directory\n");
    const Ran noValue = runProgram(dir, {"--profiles"});
    EXPECT_EQ(noValue.status, 2);
    EXPECT_EQ(noValue.err.substr(0, noValue.err.find('\n')), "msfs-panel: --profiles needs a folder");
}

TEST_F(ProfilesE2e, TheShippedProfilesAreValid) {
    Dir dir;
    const Ran ran = runProgram(dir, {"--profiles", PROFILES_DIR, "--list-profiles"});
    EXPECT_EQ(ran.status, 0) << ran.out;
    for (const char* name : {"\"G1000 NXi\"", "\"FlyByWire A32NX\"", "\"Fenix A320\"", "\"PMDG 737\""}) {
        EXPECT_NE(ran.out.find(name), std::string::npos) << name << " in " << ran.out;
    }
}

}  // namespace
