// Profiles with the real binaries: where the program finds them, what it
// says of them, and what a chosen profile makes of the panel against the
// emulator.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"
#include "sim_emulator.h"
#include "startup_golden.h"

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

// --- a chosen profile against the emulator ------------------------------------

struct Sent {
    std::string event;
    std::int64_t data;
    bool operator==(const Sent&) const = default;
};
void PrintTo(const Sent& s, std::ostream* os) { *os << s.event << " " << s.data; }

std::vector<Sent> transmitted(const e2e::RunResult& r) {
    std::vector<Sent> out;
    for (const minijson::Value& t : r.transmits()) out.push_back({t.str("sim_event"), t.num("data")});
    return out;
}

// Each SetDataOnSimObject as "NAME=VALUE".
std::vector<std::string> writes(const e2e::RunResult& r) {
    std::vector<std::string> out;
    for (const minijson::Value& line : r.trace) {
        if (line.str("call") != "SetDataOnSimObject") continue;
        for (const auto& [name, value] : line["values"].members) {
            char number[32];
            std::snprintf(number, sizeof number, "%g", value.number);
            out.push_back(name + "=" + number);
        }
    }
    return out;
}

// A run with `profile` in a folder given with --profiles, and the aircraft
// "Test Jet" loaded.
e2e::RunResult runWithProfile(const Dir& dir, const std::string& profile, const std::string& script,
                              std::vector<std::string> emulator_args = {}) {
    put(dir / "profiles/test.toml", profile);
    e2e::RunOptions options;
    options.program_args = {"--profiles", dir / "profiles"};
    options.emulator_args = {"--aircraft", "Test Jet|SimObjects/Airplanes/TestJet/aircraft.cfg"};
    options.emulator_args.insert(options.emulator_args.end(), emulator_args.begin(), emulator_args.end());
    // The aircraft is known shortly after the start-up.
    options.script = "wait 700\n" + script;
    return e2e::run(options);
}

TEST_F(ProfilesE2e, ABrokenProfileIsSaidAndThePanelServedAsBuiltIn) {
    Dir dir;
    put(dir / "profiles/broken.toml", "match = [\"Emulated\"]\n[leds]\nAP = \"L:X =! 1\"\n");
    e2e::RunOptions options;
    options.program_args = {"--profiles", dir / "profiles"};
    options.emulator_args = {"--set", "AUTOPILOT ALTITUDE LOCK VAR=3000"};
    options.script = "wait 300\nreport 6 0 2 0\nwait 150\n";
    const e2e::RunResult r = e2e::run(options);
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(
        r.panel_stderr.substr(0, r.panel_stderr.find('\n')),
        dir / "profiles/broken.toml" + ":3: unknown operator \"=!\" in \"L:X =! 1\" (operators: == != < <= > >= &)");
    // No profile found: the start-up as ever, and nothing after it but the
    // knob (and the MobiFlight channel's client-data calls, on every connection).
    ASSERT_GE(r.trace.size(), golden::startup().size());
    EXPECT_EQ(golden::startupOf(r.trace_text), golden::startup());
    for (std::size_t i = golden::startup().size(); i < r.trace.size(); ++i) {
        const std::string call = r.trace[i].str("call");
        EXPECT_TRUE(call == "TransmitClientEvent" || call == "Disconnect" ||
                    call.find("ClientData") != std::string::npos)
            << call;
    }
    EXPECT_EQ(transmitted(r), (std::vector<Sent>{{"AP_ALT_VAR_SET_ENGLISH", 3200}}));
}

TEST_F(ProfilesE2e, WithProfilesTheStartUpAsksForTheAircraftAtItsEnd) {
    Dir dir;
    const e2e::RunResult r = runWithProfile(dir, "match = [\"nothing here\"]\n", "");
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(golden::startupOf(r.trace_text), golden::startup());
    const std::size_t end = golden::startup().size();
    ASSERT_GE(r.trace.size(), end + 4);
    EXPECT_EQ(r.trace[end].str("call"), "SubscribeToSystemEvent");
    EXPECT_EQ(r.trace[end].str("name"), "AircraftLoaded");
    EXPECT_EQ(r.trace[end + 1].str("call"), "RequestSystemState");
    EXPECT_EQ(r.trace[end + 1].str("name"), "AircraftLoaded");
    EXPECT_EQ(r.trace[end + 2].str("call"), "AddToDataDefinition");
    EXPECT_EQ(r.trace[end + 2].str("datum"), "TITLE");
    EXPECT_EQ(r.trace[end + 3].str("call"), "RequestDataOnSimObject");
    EXPECT_NE(r.panel_stderr.find("msfs-panel: aircraft \"Test Jet\" (SimObjects/Airplanes/TestJet/aircraft.cfg): "
                                  "built-in mapping\n"),
              std::string::npos)
        << r.panel_stderr;
}

constexpr const char* kTestJet = R"(name = "Test Jet"
match = ["TestJet"]
[AP]
ap_cdi = ["K:AP_MASTER", "K:TEST.AP_PUSH:0x20000000"]
hdg_obs = "L:MODE=3"
nav_msg = "B:AP_BUTTON=1"
apr_fpl = "none"
alt_vnav = { press = "L:MOMENT=1", release = "L:MOMENT=0" }
outer.cw = "L:COUNTER+=1"
outer.ccw = "L:COUNTER-=1"
["COM1 NAV1"]
swap = "K:TEST.PLAIN_SWAP"
["COM1".shift]
swap = "K:TEST.SHIFT_SWAP"
[leds]
AP = "L:COUNTER >= 103"
HDG = "L:MODE == 3"
NAV = ["L:MODE < 0", "L:MODE > 2.5"]
APR = ["L:MODE <= 2", "L:MODE != 3"]
ALT = "L:FLAGS & 0x5"
VS = "off"
)";

TEST_F(ProfilesE2e, EachActionKindAndAnUnnamedControl) {
    Dir dir;
    const e2e::RunResult r =
        runWithProfile(dir, kTestJet,
                       "report 6 0x4000 0 0\nwait 100\nreport 6 0 0 0\nwait 100\n"   // ap_cdi: the list
                       "report 6 0x8000 0 0\nwait 100\nreport 6 0 0 0\nwait 100\n"   // hdg_obs: L:=
                       "report 6 0x10000 0 0\nwait 100\nreport 6 0 0 0\nwait 100\n"  // nav_msg: B:
                       "report 6 0x20000 0 0\nwait 100\nreport 6 0 0 0\nwait 100\n"  // apr_fpl: none
                       "report 6 0x40000 0 0\nwait 100\nreport 6 0 0 0\nwait 100\n"  // alt_vnav: press and release
                       "report 6 0 3 0\nwait 150\n"                                  // 3 detents: one write of +3
                       "report 6 0x80000 0 5\nwait 150\n",                           // VS and the inner knob: built-in
                       {"--set", "L:COUNTER=100", "--set", "L:FLAGS=7", "--input-event", "AP_BUTTON"});
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_NE(r.panel_stderr.find("msfs-panel: aircraft \"Test Jet\" (SimObjects/Airplanes/TestJet/aircraft.cfg): "
                                  "profile \"Test Jet\" from " +
                                  dir / "profiles/test.toml\n"),
              std::string::npos)
        << r.panel_stderr;
    EXPECT_EQ(
        transmitted(r),
        (std::vector<Sent>{
            {"AP_MASTER", 0}, {"TEST.AP_PUSH", 0x20000000}, {"AP_VS_VAR_SET_ENGLISH", 500}, {"AP_PANEL_VS_HOLD", 0}}));
    EXPECT_EQ(writes(r), (std::vector<std::string>{"L:MODE=3", "L:MOMENT=1", "L:MOMENT=0", "L:COUNTER=103"}));
    std::vector<std::string> inputs;
    for (const minijson::Value& line : r.trace) {
        if (line.str("call") == "SetInputEvent")
            inputs.push_back(line.str("name") + "=" + std::to_string(line.num("value")));
    }
    EXPECT_EQ(inputs, std::vector<std::string>{"AP_BUTTON=1"});
    // LEDs: COUNTER >= 103 (AP), MODE == 3 (HDG), MODE > 2.5 (NAV), FLAGS & 5
    // (ALT); APR dark (MODE is 3); VS off.
    ASSERT_FALSE(r.leds.empty());
    EXPECT_NE(std::find(r.leds.begin(), r.leds.end(), "0b 17"), r.leds.end()) << r.leds.back();
}

TEST_F(ProfilesE2e, AShiftTableAndASeveralModeTable) {
    Dir dir;
    const e2e::RunResult r = runWithProfile(dir, kTestJet,
                                            "report 0 0x100 0 0\nwait 100\nreport 0 0 0 0\nwait 100\n"    // COM1 swap
                                            "report 0 0x200 0 0\nwait 100\nreport 0 0 0 0\nwait 100\n"    // shift on
                                            "report 0 0x100 0 0\nwait 100\nreport 0 0 0 0\nwait 100\n"    // shift swap
                                            "report 2 0x100 0 0\nwait 100\nreport 2 0 0 0\nwait 100\n"    // NAV1 swap
                                            "report 3 0x100 0 0\nwait 100\nreport 3 0 0 0\nwait 100\n");  // NAV2
    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(transmitted(r),
              (std::vector<Sent>{
                  {"TEST.PLAIN_SWAP", 0}, {"TEST.SHIFT_SWAP", 0}, {"TEST.PLAIN_SWAP", 0}, {"NAV2_RADIO_SWAP", 0}}));
}

TEST_F(ProfilesE2e, SwitchingAircraftSwitchesProfilesThenToTheBuiltInMapping) {
    Dir dir;
    put(dir / "profiles/one.toml", "name = \"One\"\nmatch = [\"One\"]\n[AP]\nap_cdi = \"K:ONE.AP\"\n");
    put(dir / "profiles/two.toml", "name = \"Two\"\nmatch = [\"Two\"]\n[AP]\nap_cdi = \"K:TWO.AP\"\n");
    SimEmulator emulator(dir.path(), "emulator");
    ASSERT_TRUE(
        emulator.start({"--quiet", "--trace", dir / "trace.jsonl", "--aircraft", "Jet One|SimObjects/One/a.cfg",
                        "--aircraft", "Jet Two|SimObjects/Two/a.cfg", "--aircraft", "Glider|SimObjects/Glider/a.cfg"}))
        << emulator.err();
    e2e::writeConfig(dir.path(), emulator.port());
    // A press on AP/CDI every 1.5 s; the aircraft changes between them.
    const std::string press = "report 6 0x4000 0 0\nwait 100\nreport 6 0 0 0\n";
    e2e::writeFile(dir / "script.txt",
                   "wait 700\n" + press + "wait 1500\n" + press + "wait 1500\n" + press + "wait 200\n");
    const e2e::Child panel = e2e::spawn(
        {VIRTUAL_PANEL_BIN, "--script", dir / "script.txt", "--", MSFS_PANEL_BIN, "--profiles", dir / "profiles"},
        dir.path(), dir / "out.txt", dir / "err.txt");
    const auto said = [&](const std::string& part) {
        return e2e::readFile(dir / "err.txt").find(part) != std::string::npos;
    };
    const auto sent = [&](std::size_t n) {
        return e2e::waitUntil(
            [&] {
                const std::string trace = e2e::readFile(dir / "trace.jsonl");
                std::size_t count = 0;
                for (std::size_t at = trace.find("TransmitClientEvent"); at != std::string::npos;
                     at = trace.find("TransmitClientEvent", at + 1)) {
                    ++count;
                }
                return count >= n;
            },
            5s);
    };
    ASSERT_TRUE(sent(1)) << e2e::readFile(dir / "err.txt");
    ::kill(emulator.pid(), SIGUSR1);
    ASSERT_TRUE(e2e::waitUntil([&] { return said("profile \"Two\""); }, 5s)) << e2e::readFile(dir / "err.txt");
    ASSERT_TRUE(sent(2)) << e2e::readFile(dir / "err.txt");
    ::kill(emulator.pid(), SIGUSR1);
    ASSERT_TRUE(e2e::waitUntil([&] { return said("built-in mapping"); }, 5s)) << e2e::readFile(dir / "err.txt");
    EXPECT_EQ(e2e::waitFor(panel, 10s), 0) << e2e::readFile(dir / "err.txt");
    emulator.stop(SIGTERM);
    std::string aircraft;  // the program's lines about the aircraft
    std::istringstream err(e2e::readFile(dir / "err.txt"));
    for (std::string line; std::getline(err, line);) {
        if (line.starts_with("msfs-panel: aircraft")) aircraft += line + "\n";
    }
    EXPECT_EQ(aircraft, "msfs-panel: aircraft \"Jet One\" (SimObjects/One/a.cfg): profile \"One\" from " +
                            dir / "profiles/one.toml\n" +
                            "msfs-panel: aircraft \"Jet Two\" (SimObjects/Two/a.cfg): profile \"Two\" from " +
                            dir / "profiles/two.toml\n" +
                            "msfs-panel: aircraft \"Glider\" (SimObjects/Glider/a.cfg): built-in mapping\n");
    std::vector<std::string> events;
    std::istringstream trace(e2e::readFile(dir / "trace.jsonl"));
    for (std::string line; std::getline(trace, line);) {
        const minijson::Value v = minijson::Parser(line).parse();
        if (v.str("call") == "TransmitClientEvent") events.push_back(v.str("sim_event"));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"ONE.AP", "TWO.AP", "AP_MASTER"}));
}

}  // namespace
