// The tree `cmake --install` produces (staged by stage.cmake: STAGE_DIR/panel
// a plain install, STAGE_DIR/full with the tools), and the installed
// programs run from there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/panel_report.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;

// A path under the prefix, as it appears below a DESTDIR ("usr/bin/...").
std::string staged(const std::string& relative) { return std::string(INSTALL_PREFIX).substr(1) + "/" + relative; }

const std::string kProgram = staged(INSTALL_BINDIR "/msfs-panel");
const std::string kRule = staged(UDEV_RULES_DIR "/70-msfs-panel.rules");
const std::string kUnit = staged(SYSTEMD_USER_DIR "/msfs-panel.service");
const std::string kEmulator = staged(INSTALL_BINDIR "/sim-emulator");
const std::string kVirtualPanel = staged(INSTALL_BINDIR "/virtual-panel");
const std::string kPreload = staged(INSTALL_LIBDIR "/msfs-panel/libhidapi-virtual.so");

std::set<std::string> filesUnder(const std::string& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_directory()) {
            files.insert(fs::relative(entry.path(), root).string());
        }
    }
    return files;
}

// The lines that are neither blank nor comments.
std::vector<std::string> activeLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

bool executable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::others_exec) != fs::perms::none;
}

// The program, its rule and unit, and the shipped profiles.
std::set<std::string> panelFiles() {
    std::set<std::string> files{kProgram, kRule, kUnit};
    for (const auto& entry : fs::directory_iterator(PROFILES_DIR)) {
        if (entry.path().extension() == ".toml") {
            files.insert(staged(INSTALL_DATADIR "/msfs-panel/profiles/" + entry.path().filename().string()));
        }
    }
    return files;
}

TEST(Install, PlainInstallIsTheProgramWithItsRuleUnitAndProfilesOnly) {
    EXPECT_EQ(filesUnder(STAGE_DIR "/panel"), panelFiles());
    EXPECT_TRUE(executable(STAGE_DIR "/panel/" + kProgram));
}

TEST(Install, ToolsComponentAddsTheEmulatorAndTheVirtualPanelWithItsLibrary) {
    std::set<std::string> expected = panelFiles();
    expected.insert({kEmulator, kVirtualPanel, kPreload});
    EXPECT_EQ(filesUnder(STAGE_DIR "/full"), expected);
    EXPECT_TRUE(executable(STAGE_DIR "/full/" + kEmulator));
    EXPECT_TRUE(executable(STAGE_DIR "/full/" + kVirtualPanel));
}

TEST(Install, UnitKeepsTheProgramRunningUnderTheInstallPrefixFromTheHomeDirectory) {
    std::map<std::string, std::string> keys;
    for (const std::string& line : activeLines(STAGE_DIR "/full/" + kUnit)) {
        if (const auto eq = line.find('='); eq != std::string::npos) {
            keys[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    // The prefix given to `cmake --install`, not the one configured.
    const std::string program = INSTALL_PREFIX "/" INSTALL_BINDIR "/msfs-panel";
    EXPECT_EQ(keys["ExecStart"], program + " --keep-running");
    EXPECT_TRUE(fs::exists(STAGE_DIR "/full" + program));
    // The program waits for the simulator itself; only a failure restarts it.
    EXPECT_EQ(keys["Restart"], "on-failure");
    // Where the program looks for SimConnect.cfg after its working directory.
    EXPECT_EQ(keys["WorkingDirectory"], "%h");
}

TEST(Install, UdevRuleMatchesTheProgramsUsbIdsAsSysfsWritesThem) {
    // sysfs shows idVendor/idProduct as four lower-case hex digits, and udev
    // compares them as strings.
    char vendor[8];
    char product[8];
    std::snprintf(vendor, sizeof vendor, "%04x", kPanelVendorId);
    std::snprintf(product, sizeof product, "%04x", kPanelProductId);
    const std::vector<std::string> rules = activeLines(STAGE_DIR "/full/" + kRule);
    ASSERT_EQ(rules.size(), 1u);
    const std::string& rule = rules.front();
    for (const std::string& part :
         {std::string("SUBSYSTEM==\"hidraw\""), "ATTRS{idVendor}==\"" + std::string(vendor) + "\"",
          "ATTRS{idProduct}==\"" + std::string(product) + "\"", std::string("TAG+=\"uaccess\"")}) {
        EXPECT_NE(rule.find(part), std::string::npos) << part << " not in: " << rule;
    }
}

TEST(Install, InstalledVirtualPanelPlaysThePanelForTheInstalledProgram) {
    // Unlike the build tree there is no ../lib/libhidapi-virtual.so beside
    // the installed virtual-panel: it must find the installed library.
    ASSERT_FALSE(fs::exists(STAGE_DIR "/full/" + staged(INSTALL_BINDIR "/../lib/libhidapi-virtual.so")));

    e2e::RunOptions options;
    options.emulator_args = {"--set", "AUTOPILOT MASTER=1"};
    // NAV1 mode, the HDG button pressed and released.
    options.script = "wait 150\nreport 2 0x8000 0 0\nwait 150\nreport 2 0 0 0\nwait 150\n";
    const e2e::RunResult r = e2e::run(options);

    EXPECT_EQ(r.panel_status, 0) << r.panel_stderr;
    EXPECT_EQ(r.panel_stdout, "Connected to MSFS2020\n");
    // The press reached the simulator and the autopilot state reached the
    // LEDs: both pass through the preloaded library.
    const auto tx = r.transmits();
    ASSERT_EQ(tx.size(), 1u) << r.panel_stderr;
    EXPECT_EQ(tx[0].str("sim_event"), "AP_PANEL_HEADING_HOLD");
    EXPECT_NE(std::find(r.leds.begin(), r.leds.end(), "0b 01"), r.leds.end()) << "no LED report with AP master lit";
}

}  // namespace
