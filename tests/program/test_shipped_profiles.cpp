// The profiles the packages ship: each reads without a fault, names only
// events and variables of the project's notes on aircraft (its section 3,
// restated below), says where each line's fact comes from, and says it was
// not flown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "profiles/profile_file.h"

namespace {

// The events and variables the notes give, per aircraft.
std::set<std::string> knownEvents() {
    std::set<std::string> events = {
        // FlyByWire A32NX: stock events that work, and its dotted ones.
        "HEADING_BUG_INC", "HEADING_BUG_DEC", "KOHLSMAN_INC", "KOHLSMAN_DEC", "AP_MASTER", "AP_APR_HOLD",
        "A32NX.FCU_HDG_INC", "A32NX.FCU_HDG_DEC", "A32NX.FCU_HDG_SET", "A32NX.FCU_HDG_PUSH", "A32NX.FCU_HDG_PULL",
        "A32NX.FCU_ALT_INC", "A32NX.FCU_ALT_DEC", "A32NX.FCU_ALT_SET", "A32NX.FCU_ALT_PUSH", "A32NX.FCU_ALT_PULL",
        "A32NX.FCU_VS_INC", "A32NX.FCU_VS_DEC", "A32NX.FCU_VS_SET", "A32NX.FCU_VS_PUSH", "A32NX.FCU_VS_PULL",
        "A32NX.FCU_AP_1_PUSH", "A32NX.FCU_APPR_PUSH", "A32NX.FCU_LOC_PUSH",
        // Fenix A320's stock events that work.
        "COM_STBY_RADIO_SET_HZ", "XPNDR_SET",
        // G1000 NXi.
        "AP_ALT_VAR_INC", "AP_ALT_VAR_DEC", "AP_ALT_VAR_SET_ENGLISH"};
    // PMDG 737: 0x11000 + the SDK's offsets.
    for (int offset : {390, 392, 393, 394, 395,   396,   397,   400,   401,   402,
                       721, 726, 727, 365, 14500, 14502, 14504, 14505, 14506, 14600}) {
        events.insert("#" + std::to_string(0x11000 + offset));
    }
    return events;
}

const std::set<std::string> kKnownVariables = {
    // FlyByWire A32NX.
    "L:A32NX_AUTOPILOT_1_ACTIVE", "L:A32NX_AUTOPILOT_2_ACTIVE", "L:A32NX_FCU_LOC_MODE_ACTIVE",
    "L:A32NX_FCU_APPR_MODE_ACTIVE", "L:A32NX_FMA_LATERAL_MODE", "L:A32NX_FMA_VERTICAL_MODE",
    // Fenix A320.
    "L:E_FCU_HEADING", "L:E_FCU_ALTITUDE", "L:E_FCU_VS", "L:E_FCU_SPEED", "L:S_FCU_HEADING", "L:S_FCU_ALTITUDE",
    "L:S_FCU_VERTICAL_SPEED", "L:S_FCU_SPEED", "L:S_FCU_AP1", "L:S_FCU_AP2", "L:S_FCU_LOC", "L:S_FCU_APPR",
    "L:S_FCU_EXPED", "L:S_PED_RMP1_XFER", "L:E_PED_RMP1_INNER", "L:E_PED_RMP1_OUTER", "L:E_FCU_EFIS1_BARO",
    "L:I_FCU_AP1", "L:I_FCU_AP2", "L:I_FCU_LOC", "L:I_FCU_APPR", "L:I_FCU_EXPED", "L:I_FCU_ATHR",
    // G1000 NXi.
    "L:WTAP_Garmin_Nav_Mode_On", "L:WTAP_Garmin_Approach_Mode_On"};

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ShippedProfiles, ReadAndNameOnlyKnownEventsAndVariables) {
    const std::set<std::string> events = knownEvents();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(PROFILES_DIR)) {
        if (entry.path().extension() != ".toml") continue;
        ++files;
        const std::string name = entry.path().filename().string();
        const std::string text = readAll(entry.path());
        const profiles::ReadResult read = profiles::parseProfile(text, name, name);
        ASSERT_TRUE(read.profile) << read.faults.front();
        profiles::forEachAction(*read.profile, [&](const profiles::Action& action) {
            using Kind = profiles::Action::Kind;
            if (action.kind == Kind::Event) {
                EXPECT_TRUE(events.contains(action.name)) << name << ":" << action.line << ": " << action.text;
            } else if (action.kind == Kind::SetLvar || action.kind == Kind::AddLvar) {
                EXPECT_TRUE(kKnownVariables.contains("L:" + action.name)) << name << ":" << action.line;
            } else {
                ADD_FAILURE() << name << ":" << action.line << ": " << action.text << " is no kind the notes use";
            }
        });
        for (const profiles::LedSource& led : read.profile->leds) {
            for (const profiles::LedTerm& term : led.any) {
                EXPECT_EQ(term.source, profiles::LedTerm::Source::Lvar) << name << ":" << term.line;
                EXPECT_TRUE(kKnownVariables.contains("L:" + term.variable)) << name << ":" << term.line;
            }
        }
        EXPECT_NE(text.find("not flown"), std::string::npos) << name << " says it was not flown";
        // Every setting says where its fact comes from: a comment on its line
        // or on the line above.
        std::istringstream lines(text);
        std::string previous;
        int number = 0;
        for (std::string line; std::getline(lines, line); previous = line) {
            ++number;
            if (line.empty() || line[0] == '#' || line[0] == '[' || line.find('=') == std::string::npos) continue;
            EXPECT_TRUE(line.find('#') != std::string::npos || previous.starts_with("#"))
                << name << ":" << number << " has no source: " << line;
        }
    }
    EXPECT_EQ(files, 4);
}

}  // namespace
