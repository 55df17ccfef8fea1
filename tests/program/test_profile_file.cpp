// The profile format: what each good snippet becomes, and the one
// "FILE:LINE: what is wrong" each bad one draws; and the folders the files
// are looked for in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process.h"
#include "profiles/catalog.h"
#include "profiles/profile_file.h"

namespace {

using profiles::Action;
using profiles::Control;
using profiles::LedSource;
using profiles::LedTerm;

profiles::ReadResult parse(const std::string& text) { return profiles::parseProfile(text, "p.toml", "p.toml"); }

struct Bad {
    const char* name;
    const char* text;
    const char* fault;  // the first fault, whole
};

void PrintTo(const Bad& c, std::ostream* os) { *os << c.name; }

// clang-format off
const Bad kBad[] = {
    {"TomlSyntax", "name = \"x\"\n[AP\n", "p.toml:2: Error while parsing table header: expected ']', saw '\\n'"},
    {"UnknownMode", "name = \"x\"\n\n[COM3]\npush = \"none\"\n",
     "p.toml:3: unknown mode \"COM3\" (modes: COM1 COM2 NAV1 NAV2 FMS1 FMS2 AP XPDR)"},
    {"UnknownModeAmongSeveral", "[\"COM1 nav1\"]\npush = \"none\"\n",
     "p.toml:1: unknown mode \"nav1\" (modes: COM1 COM2 NAV1 NAV2 FMS1 FMS2 AP XPDR)"},
    {"ModeTwice", "[\"AP AP\"]\npush = \"none\"\n", "p.toml:1: mode \"AP\" named twice in \"AP AP\""},
    {"UnknownTopKey", "nmae = \"x\"\n",
     "p.toml:1: unknown key \"nmae\" (at the top: name, match, accelerate, [leds] and tables of modes)"},
    {"NameNotString", "name = 3\n", "p.toml:1: name must be a non-empty string"},
    {"MatchNotStrings", "match = [\"A\", 2]\n", "p.toml:1: match takes non-empty strings: match = [\"A32NX\"]"},
    {"AccelerateNotBool", "accelerate = \"yes\"\n", "p.toml:1: accelerate must be true or false"},
    {"UnknownControl", "[AP]\n\nknob = \"none\"\n",
     "p.toml:3: unknown control \"knob\" (controls: outer, inner, push, swap, direct_to, menu, clr, ent, ap_cdi, "
     "hdg_obs, nav_msg, apr_fpl, alt_vnav, vs_proc)"},
    {"UnknownKnobKey", "[AP]\nouter.left = \"none\"\n",
     "p.toml:2: unknown control \"outer.left\" (a knob has cw, ccw and accelerate)"},
    {"KnobWithoutDirection", "[AP]\nouter = \"K:AP_MASTER\"\n",
     "p.toml:2: outer takes cw and ccw: outer.cw = \"K:...\""},
    {"KnobAccelerateNotBool", "[AP]\ninner.accelerate = 1\n", "p.toml:2: inner.accelerate must be true or false"},
    {"KnobRelease", "[AP]\nouter.cw = { press = \"none\" }\n",
     "p.toml:2: a knob direction runs once per detent: no press/release table"},
    {"UnknownActionKind", "[AP]\npush = \"X:FOO\"\n",
     "p.toml:2: unknown action kind \"X\" in \"X:FOO\" (actions: K:, L:, B:, H:, RPN:, builtin or none)"},
    {"ActionWithoutKind", "[AP]\npush = \"AP_MASTER\"\n",
     "p.toml:2: unknown action kind \"AP_MASTER\" in \"AP_MASTER\" (actions: K:, L:, B:, H:, RPN:, builtin or none)"},
    {"LowerCaseKind", "[AP]\npush = \"k:AP_MASTER\"\n",
     "p.toml:2: unknown action kind \"k\" in \"k:AP_MASTER\" (actions: K:, L:, B:, H:, RPN:, builtin or none)"},
    {"BadEventName", "[AP]\npush = \"K:AP MASTER\"\n",
     "p.toml:2: bad event name in \"K:AP MASTER\": letters, digits, _ and . (or #NUMBER)"},
    {"BadNumberedEvent", "[AP]\npush = \"K:#69x\"\n",
     "p.toml:2: bad event name in \"K:#69x\": letters, digits, _ and . (or #NUMBER)"},
    {"EventDataTooLarge", "[AP]\npush = \"K:AP_MASTER:0x100000000\"\n",
     "p.toml:2: bad event data in \"K:AP_MASTER:0x100000000\": an integer (decimal, 0x hexadecimal, or negative) "
     "that fits 32 bits"},
    {"EventDataNotInteger", "[AP]\npush = \"K:AP_MASTER:1.5\"\n",
     "p.toml:2: bad event data in \"K:AP_MASTER:1.5\": an integer (decimal, 0x hexadecimal, or negative) "
     "that fits 32 bits"},
    {"LvarWithoutValue", "[AP]\npush = \"L:X\"\n", "p.toml:2: L: needs =VALUE, +=STEP or -=STEP in \"L:X\""},
    {"LvarBadValue", "[AP]\npush = \"L:X+=two\"\n", "p.toml:2: bad number in \"L:X+=two\""},
    {"LvarBadName", "[AP]\npush = \"L:=1\"\n", "p.toml:2: bad L:var name in \"L:=1\": letters, digits, _ and ."},
    {"InputEventWithStep", "[AP]\npush = \"B:X+=1\"\n",
     "p.toml:2: bad input event name in \"B:X+=1\": letters, digits, _ and ."},
    {"InputEventWithoutValue", "[AP]\npush = \"B:X\"\n", "p.toml:2: B: needs =VALUE in \"B:X\""},
    {"RpnEmpty", "[AP]\npush = \"RPN: \"\n", "p.toml:2: RPN: needs its code (at most 255 characters) in \"RPN: \""},
    {"BuiltinInList", "[AP]\npush = [\"K:AP_MASTER\", \"builtin\"]\n",
     "p.toml:2: \"builtin\" stands alone, not in a list or a press/release table"},
    {"EmptyList", "[AP]\npush = []\n", "p.toml:2: an empty list of actions: write \"none\""},
    {"ActionNotString", "[AP]\npush = 1\n", "p.toml:2: an action is a string, e.g. \"K:AP_MASTER\""},
    {"PressMissing", "[AP]\nap_cdi = { release = \"L:X=0\" }\n",
     "p.toml:2: a press/release table needs press (\"none\" for nothing)"},
    {"PressReleaseUnknownKey", "[AP]\nap_cdi = { press = \"L:X=1\", hold = \"L:X=0\" }\n",
     "p.toml:2: unknown key \"hold\" (a button takes press and release)"},
    {"NamedTwiceAcrossTables", "[\"AP XPDR\"]\nap_cdi = \"none\"\n\n[AP]\nap_cdi = \"K:AP_MASTER\"\n",
     "p.toml:5: ap_cdi for AP already given at line 2"},
    {"KnobNamedTwice", "[\"COM1 AP\"]\nouter.cw = \"none\"\n[AP]\nouter.cw = \"none\"\n",
     "p.toml:4: outer.cw for AP already given at line 2"},
    {"PushInShiftTable", "[AP.shift]\npush = \"none\"\n",
     "p.toml:2: push cannot be re-mapped with shift on: re-mapping push keeps shift off in its mode (name it in "
     "the table without .shift)"},
    {"ShiftInFms", "[\"FMS1\".shift]\nouter.cw = \"none\"\n",
     "p.toml:1: shift is never on in FMS1: the knob push there is the navigator's"},
    {"ShiftNotTable", "[AP]\nshift = \"none\"\n", "p.toml:2: shift must be a table: [\"AP\".shift]"},
    {"ShiftUnreachable", "[AP]\npush = \"K:AP_MASTER\"\n\n[AP.shift]\nouter.cw = \"none\"\n",
     "p.toml:4: the shift table of AP can never apply: push is re-mapped there at line 2, so shift stays off"},
    {"UnknownLed", "[leds]\nLOC = \"off\"\n", "p.toml:2: unknown LED \"LOC\" (LEDs: AP HDG NAV APR ALT VS)"},
    {"LedsNotTable", "leds = \"off\"\n", "p.toml:1: leds must be a table: [leds]"},
    {"UnknownLedSource", "[leds]\nAP = \"K:AP_MASTER\"\n",
     "p.toml:2: unknown LED source \"K:\" in \"K:AP_MASTER\" (sources: L:NAME, A:NAME[:INDEX][, UNIT], R:CODE, builtin or off)"},
    {"UnknownOperatorSingleEquals", "[leds]\nAP = \"L:X = 1\"\n",
     "p.toml:2: unknown operator \"=\" in \"L:X = 1\" (operators: == != < <= > >= &)"},
    {"UnknownOperatorArrow", "[leds]\nAP = \"L:X => 1\"\n",
     "p.toml:2: unknown operator \"=>\" in \"L:X => 1\" (operators: == != < <= > >= &)"},
    {"UnknownOperatorTripleEquals", "[leds]\nAP = \"L:X === 1\"\n",
     "p.toml:2: unknown operator \"===\" in \"L:X === 1\" (operators: == != < <= > >= &)"},
    {"OperatorWithoutNumber", "[leds]\nAP = \"L:X >=\"\n", "p.toml:2: bad number after the operator in \"L:X >=\""},
    {"MaskZero", "[leds]\nAP = \"L:X & 0\"\n",
     "p.toml:2: bad mask in \"L:X & 0\": a positive integer (decimal or 0x hexadecimal)"},
    {"SimvarBadIndex", "[leds]\nAP = \"A:NAV OBS:x\"\n", "p.toml:2: bad index in \"A:NAV OBS:x\": A:NAME:INDEX with INDEX 0 to 255"},
    {"SimvarEmpty", "[leds]\nAP = \"A: , bool\"\n",
     "p.toml:2: bad simulation variable in \"A: , bool\": A:NAME[:INDEX][, UNIT]"},
    {"LedListItemNotString", "[leds]\n\nAP = [\"L:X\",\n  3]\n",
     "p.toml:4: an LED source is a string, or a list of strings"},
    {"LedEmptyList", "[leds]\nAP = []\n", "p.toml:2: an empty list of LED sources: write \"off\""},
};
// clang-format on

class BadProfile : public ::testing::TestWithParam<Bad> {};

TEST_P(BadProfile, IsRefusedWithItsLine) {
    const profiles::ReadResult result = parse(GetParam().text);
    EXPECT_FALSE(result.profile.has_value());
    ASSERT_FALSE(result.faults.empty());
    EXPECT_EQ(result.faults.front(), GetParam().fault);
}

INSTANTIATE_TEST_SUITE_P(Table, BadProfile, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileFile, EveryFaultOfAFileIsListed) {
    const profiles::ReadResult result = parse("[COM3]\npush = \"none\"\n[AP]\nknob = 1\n[leds]\nX = \"off\"\n");
    ASSERT_EQ(result.faults.size(), 3U);
    EXPECT_EQ(result.faults[1].substr(0, 10), "p.toml:4: ");
    EXPECT_EQ(result.faults[2].substr(0, 10), "p.toml:6: ");
}

TEST(ProfileFile, FaultsStopAtTheLimit) {
    std::string text;
    for (int i = 0; i < 30; ++i) text += "k" + std::to_string(i) + " = 1\n";
    EXPECT_EQ(parse(text).faults.size(), profiles::kMaxFaults);
}

// The issue's example, whole: what each line becomes.
TEST(ProfileFile, TheExampleReadsAsWritten) {
    const profiles::ReadResult result = parse(R"(name  = "FlyByWire A32NX"
match = ["A32NX"]              # case-insensitive substrings

["COM1 COM2 NAV1 NAV2 AP XPDR"] # a table names one mode or several
ap_cdi  = "K:A32NX.FCU_AP_1_PUSH"
alt_vnav = "K:A32NX.FCU_ALT_PUSH"

[AP]
outer.cw  = "K:A32NX.FCU_ALT_INC"
outer.ccw = "K:A32NX.FCU_ALT_DEC"

["COM1".shift]
outer.cw = ["K:A32NX.FCU_HDG_INC", "K:A32NX.FCU_HDG_INC"]   # a list runs in order

[leds]
AP  = "L:A32NX_AUTOPILOT_1_ACTIVE"          # lit while non-zero
HDG = "L:A32NX_FMA_LATERAL_MODE == 10"
NAV = ["L:A32NX_FMA_LATERAL_MODE == 20", "L:A32NX_FCU_LOC_MODE_ACTIVE"]
)");
    ASSERT_TRUE(result.faults.empty()) << result.faults.front();
    const profiles::Profile& p = *result.profile;
    EXPECT_EQ(p.name, "FlyByWire A32NX");
    EXPECT_EQ(p.match, std::vector<std::string>{"A32NX"});
    for (std::size_t mode : {COM1, COM2, NAV1, NAV2, AP, XPDR}) {
        const profiles::Binding* b = profiles::bindingFor(p, mode, false, Control::ApCdi);
        ASSERT_NE(b, nullptr) << mode;
        EXPECT_EQ(b->press.at(0).name, "A32NX.FCU_AP_1_PUSH");
        EXPECT_EQ(b->line, 5);
    }
    EXPECT_EQ(profiles::bindingFor(p, FMS1, false, Control::ApCdi), nullptr);
    EXPECT_EQ(profiles::bindingFor(p, AP, false, Control::OuterCw)->press.at(0).name, "A32NX.FCU_ALT_INC");
    EXPECT_EQ(profiles::bindingFor(p, AP, true, Control::OuterCcw)->press.at(0).name, "A32NX.FCU_ALT_DEC");
    EXPECT_EQ(profiles::bindingFor(p, AP, false, Control::InnerCw), nullptr);
    // COM1: the shift table's knob, and with shift on the plain table's buttons.
    EXPECT_EQ(profiles::bindingFor(p, COM1, false, Control::OuterCw), nullptr);
    EXPECT_EQ(profiles::bindingFor(p, COM1, true, Control::OuterCw)->press.size(), 2U);
    EXPECT_NE(profiles::bindingFor(p, COM1, true, Control::AltVnav), nullptr);
    const LedSource& nav = p.leds[2];
    ASSERT_EQ(nav.kind, LedSource::Kind::Terms);
    ASSERT_EQ(nav.any.size(), 2U);
    EXPECT_EQ(nav.any[0].test, LedTerm::Test::Equal);
    EXPECT_EQ(nav.any[0].operand, 20.0);
    EXPECT_EQ(nav.any[1].test, LedTerm::Test::NonZero);
    EXPECT_EQ(p.leds[4].kind, LedSource::Kind::Builtin);
}

TEST(ProfileFile, ShiftTablesAndTheirFallBack) {
    const profiles::ReadResult good = parse(
        "[NAV1]\ninner.cw = \"K:A\"\nswap = \"K:B\"\n"
        "[NAV1.shift]\nswap = \"builtin\"\ninner.cw = \"none\"\n");
    ASSERT_TRUE(good.profile);
    const profiles::Profile& p = *good.profile;
    EXPECT_EQ(profiles::bindingFor(p, NAV1, false, Control::Swap)->press.at(0).name, "B");
    EXPECT_EQ(profiles::bindingFor(p, NAV1, true, Control::Swap), nullptr);  // builtin with shift on
    const profiles::Binding* none = profiles::bindingFor(p, NAV1, true, Control::InnerCw);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(none->press.empty());  // "none": answered, nothing sent
}

struct GoodAction {
    const char* text;
    Action::Kind kind;
    const char* name;
    std::uint32_t data;
    double value;
};

TEST(ProfileFile, EveryActionKind) {
    // clang-format off
    const GoodAction cases[] = {
        {"K:AP_MASTER",                 Action::Kind::Event,    "AP_MASTER",         0,          0},
        {"K:A32NX.FCU_HDG_INC",         Action::Kind::Event,    "A32NX.FCU_HDG_INC", 0,          0},
        {"K:#69632:0x20000000",         Action::Kind::Event,    "#69632",            0x20000000, 0},
        {"K:AP_ALT_VAR_INC:1000",       Action::Kind::Event,    "AP_ALT_VAR_INC",    1000,       0},
        {"K:AP_VS_VAR_SET_ENGLISH:-500", Action::Kind::Event,   "AP_VS_VAR_SET_ENGLISH", 0xFFFFFE0C, 0},
        {"K:X:0xFFFFFFFF",              Action::Kind::Event,    "X",                 0xFFFFFFFF, 0},
        {"L:S_FCU_AP1=1",               Action::Kind::SetLvar,  "S_FCU_AP1",         0,          1},
        {" L:E_FCU_VS = -2.5 ",         Action::Kind::SetLvar,  "E_FCU_VS",          0,          -2.5},
        {"L:E_FCU_ALTITUDE+=1",         Action::Kind::AddLvar,  "E_FCU_ALTITUDE",    0,          1},
        {"L:E_FCU_ALTITUDE -= 10",      Action::Kind::AddLvar,  "E_FCU_ALTITUDE",    0,          -10},
        {"B:AUTOPILOT_AP_1=1",          Action::Kind::SetInput, "AUTOPILOT_AP_1",    0,          1},
        {"H:A32NX_RMP_L_TRANSFER_BUTTON_PRESSED", Action::Kind::HEvent, "A32NX_RMP_L_TRANSFER_BUTTON_PRESSED", 0, 0},
        {"RPN:(L:X) 1 + (>L:X)",        Action::Kind::Rpn,      "(L:X) 1 + (>L:X)",  0,          0},
    };
    // clang-format on
    for (const GoodAction& c : cases) {
        std::string fault;
        const std::optional<Action> action = profiles::parseAction(c.text, fault);
        ASSERT_TRUE(action) << c.text << ": " << fault;
        EXPECT_EQ(action->kind, c.kind) << c.text;
        EXPECT_EQ(action->name, c.name) << c.text;
        EXPECT_EQ(action->data, c.data) << c.text;
        EXPECT_EQ(action->value, c.value) << c.text;
    }
}

struct GoodTerm {
    const char* text;
    LedTerm::Source source;
    const char* variable;
    const char* unit;
    LedTerm::Test test;
    double operand;
    std::uint64_t mask;
};

TEST(ProfileFile, EveryLedSourceAndOperator) {
    using S = LedTerm::Source;
    using T = LedTerm::Test;
    // clang-format off
    const GoodTerm cases[] = {
        {"L:I_FCU_AP1",                         S::Lvar,   "I_FCU_AP1",              "",       T::NonZero,      0,    0},
        {"L:M == 10",                           S::Lvar,   "M",                      "",       T::Equal,        10,   0},
        {"L:M!=0",                              S::Lvar,   "M",                      "",       T::NotEqual,     0,    0},
        {"L:M < 2.5",                           S::Lvar,   "M",                      "",       T::Less,         2.5,  0},
        {"L:M <= -1",                           S::Lvar,   "M",                      "",       T::LessEqual,    -1,   0},
        {"L:M > 30",                            S::Lvar,   "M",                      "",       T::Greater,      30,   0},
        {"L:M >= 30",                           S::Lvar,   "M",                      "",       T::GreaterEqual, 30,   0},
        {"L:M & 0x6",                           S::Lvar,   "M",                      "",       T::Mask,         0,    6},
        {"A:AUTOPILOT MASTER",                  S::Simvar, "AUTOPILOT MASTER",       "number", T::NonZero,      0,    0},
        {"A:NAV OBS:2, degrees > 180",          S::Simvar, "NAV OBS:2",              "degrees", T::Greater,     180,  0},
        {"A:AUTOPILOT ALTITUDE LOCK, Bool & 1", S::Simvar, "AUTOPILOT ALTITUDE LOCK", "Bool",  T::Mask,         0,    1},
        {"R:(L:X) 2 >",                         S::Rpn,    "(L:X) 2 >",              "",       T::NonZero,      0,    0},
    };
    // clang-format on
    for (const GoodTerm& c : cases) {
        std::string fault;
        const std::optional<LedTerm> term = profiles::parseLedTerm(c.text, fault);
        ASSERT_TRUE(term) << c.text << ": " << fault;
        EXPECT_EQ(term->source, c.source) << c.text;
        EXPECT_EQ(term->variable, c.variable) << c.text;
        EXPECT_EQ(term->unit, c.unit) << c.text;
        EXPECT_EQ(term->test, c.test) << c.text;
        EXPECT_EQ(term->operand, c.operand) << c.text;
        EXPECT_EQ(term->mask, c.mask) << c.text;
    }
}

TEST(ProfileFile, ButtonsPressAndReleaseAndSettings) {
    const profiles::ReadResult result = parse(R"(name = "n"
match = "single"
accelerate = false
[AP]
ap_cdi = { press = "L:S_FCU_AP1=1", release = "L:S_FCU_AP1=0" }
hdg_obs = { press = ["K:A", "K:B"], release = "none" }
outer.accelerate = true
[leds]
AP = "off"
HDG = "builtin"
)");
    ASSERT_TRUE(result.profile) << result.faults.front();
    const profiles::Profile& p = *result.profile;
    EXPECT_EQ(p.match, std::vector<std::string>{"single"});
    EXPECT_EQ(p.accelerate, false);
    EXPECT_EQ(p.plain[AP].knobs[0].accelerate, true);
    EXPECT_FALSE(p.plain[AP].knobs[1].accelerate.has_value());
    const profiles::Binding* cdi = profiles::bindingFor(p, AP, false, Control::ApCdi);
    ASSERT_EQ(cdi->release.size(), 1U);
    EXPECT_EQ(cdi->release[0].value, 0.0);
    EXPECT_EQ(cdi->press[0].value, 1.0);
    const profiles::Binding* hdg = profiles::bindingFor(p, AP, false, Control::HdgObs);
    EXPECT_EQ(hdg->press.size(), 2U);
    EXPECT_TRUE(hdg->release.empty());
    EXPECT_EQ(p.leds[0].kind, LedSource::Kind::Off);
    EXPECT_EQ(p.leds[1].kind, LedSource::Kind::Builtin);
}

TEST(ProfileFile, NameDefaultsToTheFileName) {
    const profiles::ReadResult result = profiles::parseProfile("", "dir/fenix.toml", "fenix.toml");
    ASSERT_TRUE(result.profile);
    EXPECT_EQ(result.profile->name, "fenix");
    EXPECT_TRUE(result.profile->match.empty());
}

// Of two files of one name the first folder's wins, so the user's folder must
// come before the shipped one on every platform; on Windows the shipped one
// is profiles\ beside the .exe.
TEST(ProfileFolders, TheUsersComeBeforeTheShippedOnes) {
    struct Case {
        const char* what;
        profiles::Places places;
        std::vector<std::string> given;
        std::vector<std::string> searched;
    };
    profiles::Places linux;
    linux.program = "/opt/bin";
    linux.shipped = "../share/msfs-panel/profiles";
    linux.config_home = "/xdg";
    linux.home = "/home/u";
    profiles::Places windows;
    windows.windows = true;
    windows.program = "/C/panel";
    windows.shipped = "profiles";
    windows.app_data = "/C/Users/u/AppData/Roaming";
    const auto with = [](profiles::Places places, auto change) {
        change(places);
        return places;
    };
    const Case cases[] = {
        {"Linux", linux, {"/a", "/b"}, {"/a", "/b", "/xdg/msfs-panel/profiles", "/opt/share/msfs-panel/profiles"}},
        {"Linux, XDG_CONFIG_HOME relative",
         with(linux, [](auto& p) { p.config_home = "rel"; }),
         {},
         {"/home/u/.config/msfs-panel/profiles", "/opt/share/msfs-panel/profiles"}},
        {"Linux, no user folder nor program folder",
         with(linux, [](auto& p) { p.config_home = p.home = p.program = ""; }),
         {"/a"},
         {"/a"}},
        {"Windows", windows, {"/a"}, {"/a", "/C/Users/u/AppData/Roaming/msfs-panel/profiles", "/C/panel/profiles"}},
        {"Windows, no APPDATA", with(windows, [](auto& p) { p.app_data = ""; }), {}, {"/C/panel/profiles"}},
        {"Windows, the .exe's folder given too",
         windows,
         {"/C/panel/profiles/"},
         {"/C/panel/profiles", "/C/Users/u/AppData/Roaming/msfs-panel/profiles"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> searched;
        for (const profiles::Folder& folder : profiles::searchFolders(c.given, c.places)) {
            searched.push_back(folder.path.generic_string());
        }
        EXPECT_EQ(searched, c.searched);
    }
}

TEST(ProfileFolders, OnWindowsTheUsersFileReplacesTheShippedOne) {
    testproc::TempDir dir("profile-folders");
    const std::filesystem::path root = dir.path();
    const auto put = [](const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    };
    put(root / "panel/profiles/fbw.toml", "name = \"Shipped\"\n");
    put(root / "roaming/msfs-panel/profiles/fbw.toml", "name = \"Mine\"\n");
    profiles::Places places;
    places.windows = true;
    places.program = root / "panel";
    places.shipped = "profiles";
    places.app_data = root / "roaming";
    const profiles::Catalog catalog = profiles::loadFolders(profiles::searchFolders({}, places));
    ASSERT_EQ(catalog.profiles.size(), 1U);
    EXPECT_EQ(catalog.profiles[0].name, "Mine");
    ASSERT_EQ(catalog.entries.size(), 2U);
    EXPECT_EQ(catalog.entries[1].state, profiles::Entry::State::Replaced);
    EXPECT_EQ(catalog.entries[1].replaced_by, profiles::shownPath(root / "roaming/msfs-panel/profiles/fbw.toml"));
}

}  // namespace
