#include "options.h"

#include "mobiflight/module.h"
#include "text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

namespace simemu {
namespace {

bool parseUnsigned(std::string_view text, unsigned long max, unsigned long& out) {
    unsigned long v = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), v, 10);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v > max) {
        return false;
    }
    out = v;
    return true;
}

std::string usage(std::string_view option, std::string_view argument, std::string_view reason) {
    return std::string(option) + "(" + std::string(argument) + "): " + std::string(reason);
}

// "TITLE|PATH", as the simulator would name the aircraft: a TITLE that
// fits a STRING256 datum and a path that fits MAX_PATH.
std::optional<std::string> parseAircraft(std::string_view text, std::vector<LoadedAircraft>& out) {
    const std::size_t bar = text.rfind('|');
    if (bar == std::string_view::npos) {
        return "expected TITLE|PATH, e.g. \"FlyByWire A320neo|SimObjects/Airplanes/FlyByWire_A320_NEO/aircraft.cfg\"";
    }
    const std::string_view title = trim(text.substr(0, bar));
    const std::string_view path = trim(text.substr(bar + 1));
    if (title.empty() || path.empty()) {
        return std::string(title.empty() ? "empty TITLE" : "empty PATH");
    }
    if (title.size() > kMaxTitleBytes || path.size() > kMaxPathBytes) {
        return "TITLE longer than " + std::to_string(kMaxTitleBytes) + " bytes or PATH longer than " +
               std::to_string(kMaxPathBytes);
    }
    if (out.size() >= kMaxAircraft) {
        return "more than " + std::to_string(kMaxAircraft) + " aircraft";
    }
    out.push_back(LoadedAircraft{std::string(title), std::string(path)});
    return std::nullopt;
}

std::optional<std::string> parseInputEvent(std::string_view name, std::vector<std::string>& out) {
    if (name.empty() || name.size() >= kInputEventNameField) {
        return "an input event name of 1 to " + std::to_string(kInputEventNameField - 1) + " bytes";
    }
    if (out.size() >= kMaxInputEvents) {
        return "more than " + std::to_string(kMaxInputEvents) + " input events";
    }
    for (const auto& other : out) {
        if (other == name || inputEventHash(other) == inputEventHash(name)) {
            return "given twice" + std::string(other == name ? "" : " (its hash is that of " + other + ")");
        }
    }
    out.emplace_back(name);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> parseOptions(std::span<const std::string_view> args, Options& out) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view option = args[i];
        std::optional<std::string_view> inlineValue;
        if (option.starts_with("--")) {
            if (const auto eq = option.find('='); eq != std::string_view::npos) {
                inlineValue = option.substr(eq + 1);
                option = option.substr(0, eq);
            }
        }
        const auto flag = [&](bool& target) -> std::optional<std::string> {
            if (inlineValue) {
                return usage(option, *inlineValue, "takes no value");
            }
            target = true;
            return std::nullopt;
        };
        // The option's value: after '=' or the next argument.
        std::string_view value;
        const auto takeValue = [&]() -> bool {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                return false;
            }
            value = args[++i];
            return true;
        };

        if (option == "--once") {
            if (auto e = flag(out.once)) return e;
            continue;
        }
        if (option == "--quiet") {
            if (auto e = flag(out.quiet)) return e;
            continue;
        }
        if (option == "--help" || option == "-h") {
            if (auto e = flag(out.help)) return e;
            continue;
        }
        if (option == "--mobiflight") {
            // The version is optional: the next argument, unless an option.
            std::string_view version = mobiflight::kDefaultVersion;
            if (inlineValue) {
                version = *inlineValue;
            } else if (i + 1 < args.size() && !args[i + 1].starts_with("-")) {
                version = args[++i];
            }
            if (!mobiflight::validVersion(version)) {
                return usage(option, version, "not a version such as 1.0.1 (letters, digits, '.', '-', '_', '+')");
            }
            out.mobiflight = std::string(version);
            continue;
        }
        if (option == "--sim") {
            if (!takeValue()) {
                return usage(option, "", "needs a value");
            }
            if (value != "2020" && value != "2024") {
                return usage(option, value, "not 2020 or 2024");
            }
            out.sim = value == "2020" ? 2020 : 2024;
            continue;
        }
        const bool known = option == "--port" || option == "--bind" || option == "--frame-ms" ||
                           option == "--event-delay-frames" || option == "--data-after-ms" || option == "--set" ||
                           option == "--limit" || option == "--trace" || option == "--state-out" ||
                           option == "--port-file" || option == "--aircraft" || option == "--input-event";
        if (!known) {
            return usage("option", option, "unknown");
        }
        if (!takeValue()) {
            return usage(option, "", "needs a value");
        }
        unsigned long n = 0;
        if (option == "--port") {
            if (!parseUnsigned(value, 65535, n)) {
                return usage(option, value, "not a port number from 0 to 65535");
            }
            out.port = static_cast<std::uint16_t>(n);
        } else if (option == "--bind") {
            in_addr addr{};
            const std::string text(value);
            if (inet_pton(AF_INET, text.c_str(), &addr) != 1) {
                return usage(option, value, "not an IPv4 address such as 127.0.0.1 or 0.0.0.0");
            }
            out.bind = text;
        } else if (option == "--frame-ms") {
            if (!parseUnsigned(value, 60000, n) || n == 0) {
                return usage(option, value, "not a frame length from 1 to 60000 ms");
            }
            out.frame_ms = static_cast<unsigned>(n);
        } else if (option == "--event-delay-frames") {
            if (!parseUnsigned(value, 100000, n)) {
                return usage(option, value, "not a number of frames from 0 to 100000");
            }
            out.event_delay_frames = static_cast<unsigned>(n);
        } else if (option == "--data-after-ms") {
            if (!parseUnsigned(value, 3600000, n)) {
                return usage(option, value, "not a time from 0 to 3600000 ms");
            }
            out.data_after_ms = static_cast<unsigned>(n);
        } else if (option == "--set") {
            std::string error;
            const auto setting = parseSetting(value, error);
            if (!setting) {
                return usage(option, value, error);
            }
            out.settings.push_back(*setting);
            if (std::ranges::count(out.settings, Var::Count, &Setting::var) > std::ptrdiff_t{kMaxNamedVariables}) {
                return usage(option, value, "more than " + std::to_string(kMaxNamedVariables) + " named variables");
            }
        } else if (option == "--limit") {
            std::string error;
            const auto limit = parseLimit(value, error);
            if (!limit) {
                return usage(option, value, error);
            }
            out.limits.push_back(*limit);
        } else if (option == "--aircraft") {
            if (auto e = parseAircraft(value, out.aircraft)) {
                return usage(option, value, *e);
            }
        } else if (option == "--input-event") {
            if (auto e = parseInputEvent(value, out.input_events)) {
                return usage(option, value, *e);
            }
        } else if (value.empty()) {
            return usage(option, value, "needs a file name");
        } else if (option == "--trace") {
            out.trace_path = std::string(value);
        } else if (option == "--state-out") {
            out.state_out_path = std::string(value);
        } else {
            out.port_file = std::string(value);
        }
    }
    return std::nullopt;
}

std::string helpText() {
    std::string text = R"(Usage: sim-emulator [options]

An emulated Microsoft Flight Simulator 2020 for SimConnect clients over TCP:
it answers Open as "KittyHawk" (or as MSFS 2024 with --sim 2024), keeps the aircraft variables below, applies
the simulator events clients transmit, and streams SIMOBJECT_DATA records
every frame.

Options:
  --port N               TCP port (default 500; 0 picks a free port)
  --bind ADDR            IPv4 address to listen on (default 127.0.0.1)
  --frame-ms MS          simulation frame length (default 16)
  --event-delay-frames N apply each event N frames later than the next
                         frame boundary (default 0), like a slow simulator
  --data-after-ms MS     stream no data to a client until MS after its Open
                         (default 0), like a simulator still loading a flight
  --set "NAME=VALUE"     starting value of a variable by its SimConnect name,
                         in the unit listed below; repeatable. Transponder as
                         BCO16 ("0x1200" or "1200"), Bools as 0/1/true/false.
                         "L:NAME=VALUE" sets an L:var, "A:NAME=VALUE" a
                         simulation variable not listed below (see Named
                         variables)
  --limit "NAME=MIN:MAX" hold a variable within MIN..MAX (each written as for
                         --set) after every event and from the start, as an
                         aircraft holds an autopilot target to what it
                         allows; repeatable
  --aircraft "TITLE|PATH"
                         an aircraft by its TITLE and aircraft.cfg path;
                         repeatable: the first is loaded at the start, each
                         SIGUSR1 loads the next (after the last, the first).
                         Default "Emulated Aircraft|SimObjects/Airplanes/
                         Emulated/aircraft.cfg"
  --input-event NAME     an input event (B: event) of the aircraft, set to 0;
                         repeatable
  --trace FILE           JSON Lines, one object per client packet
  --state-out FILE       at exit, every variable as one JSON object (the
                         named variables as "L:NAME" and "A:NAME")
  --once                 exit when the first client (the first connection
                         that sent a packet) has disconnected
  --quiet                no listening message, no live view, no line per
                         client; refusals and failures are still said
  --port-file FILE       write the bound port number there once listening
  --sim 2020|2024        the simulator that answers Open (default 2020); 2024
                         answers as "SunRise" 12.1 and writes version 6 in
                         every record's header, as MSFS 2024 does
  --mobiflight [VERSION] run a model of the MobiFlight WASM module, version
                         1.0.1 unless given (see Client data)
  --help                 this text

Variables (SimConnect name, unit, starting value):
)";
    const Model initial;
    for (std::size_t i = 0; i < kVarCount; ++i) {
        const auto v = static_cast<Var>(i);
        std::string line = "  " + std::string(info(v).name);
        line.resize(std::max<std::size_t>(line.size() + 1, 32), ' ');
        std::string unit(info(v).unit);
        unit.resize(std::max<std::size_t>(unit.size() + 1, 13), ' ');
        text += line + unit + formatValue(v, initial.value(v)) + "\n";
    }
    text += R"help(
The transponder is BCO16, one octal digit per nibble: squawk 1200 is 0x1200,
which --state-out writes as the integer 4608.
Variables are read in any unit of their family: MHz/kHz/Hz/Frequency BCD16,
degrees/radians, feet/meters, feet/minute/feet/second/meters/second, BCO16,
Bool, inHg/millibars/hPa; as INT32 (truncated), INT64, FLOAT32 or FLOAT64.

Named variables: L:vars, and simulation variables not listed above (a
client's datum "A:NAME" or "NAME", an index as in "NAME:1"), are plain
numbers that read 0 until set, in whatever unit a client names; names match
case-insensitively. At most 4096 of them exist at once (all clients and
--set together); a datum naming one more draws DEFINITION_ERROR (28),
index 2.

Events and their effect:
  COM_RADIO_WHOLE_INC/DEC, COM2_...   standby +-1 MHz, wrapping 118..136
  COM_RADIO_FRACT_INC/DEC, COM2_...   standby +-25 kHz, wrapping inside the
                                      MHz (no carry)
  COM_STBY_RADIO_SET, COM2_...        standby from BCD16 (0x2797 = 127.975)
  NAV1_STBY_SET, NAV2_STBY_SET        standby from BCD16, 0x1345 or 0x11345
  COM_STBY_RADIO_SWAP, COM2_RADIO_SWAP, NAV1_RADIO_SWAP, NAV2_RADIO_SWAP
  HEADING_BUG_SET, VOR1_SET, VOR2_SET whole degrees, kept in 0..359
  XPNDR_SET                           BCO16 code
  AP_ALT_VAR_SET_ENGLISH              feet (signed 32-bit)
  AP_ALT_VAR_INC/DEC                  +-100 ft (data above 999: 1000 ft), not
                                      below 0
  AP_VS_VAR_SET_ENGLISH               feet/minute (signed 32-bit)
  KOHLSMAN_INC/DEC                    +-0.01 inHg, held within 948..1084 hPa
  BAROMETRIC_STD_PRESSURE             29.92 inHg
  AP_MASTER, AP_PANEL_HEADING_HOLD, AP_NAV1_HOLD, AP_APR_HOLD,
  AP_PANEL_ALTITUDE_HOLD, AP_PANEL_VS_HOLD, TOGGLE_GPS_DRIVES_NAV1
                                      toggle their Bool
The trace line of a transmission whose event carries its value in its data
(the sets above) has "applied": the value the event leaves its variable at,
in the unit listed above and after --limit, or null when the simulator
ignores the data.
Choices where the simulator's behaviour is not documented: a set event whose
data is not valid BCD/BCO or lies outside the band changes nothing; the
barometer stops at its limits; an event that is applied is applied once per
transmission whatever its data. Event names are matched case-insensitively.

Names: an unknown plain event name or an empty variable name draws
exception NAME_UNRECOGNIZED (7) with the packet's send ID (index 2); for a
listed variable an unknown unit or one of another family draws 7 with index
3. TITLE takes a string type, every other variable a number type; the other
kind draws INVALID_DATA_TYPE (18), index 4. Empty, dotted ("Custom.Event")
and "#nnnn" event names are accepted and their transmissions counted. An
event ID never mapped draws ERROR (1), index 2, on transmission.
TOGGLE_GPS_DRIVES_NAV2 does not exist in MSFS and is unknown here too.

Limits, each refusal said once on standard error (or in the live view):
at most 64 clients (MSFS's MaxClients default), further connections are
closed at once (out of file descriptors, they wait until a client leaves); at most 1000 event names mapped per client (MSFS's limit),
more draw TOO_MANY_EVENT_NAMES (8), index 1; at most 4096 events per client
waiting for their frame, more draw ERROR (1), index 0, and their trace line
has "refused". A client's waiting events are dropped when it disconnects,
except the first client's under --once, whose leaving ends the run. Custom
and unknown names are counted one by one up to 4096 names, further ones
together as "(other names)". At most 1000 system event subscriptions per
client, more draw TOO_MANY_EVENT_NAMES (8), index 1; 1024 definitions per
client and 1024 datums per definition, more draw DEFINITION_ERROR (28),
index 1, as does a datum whose definition's data would no longer fit a
record (index 4); 4096 named variables for all clients and --set together
(index 2). At most 64 --aircraft and 1024 --input-event.

Aircraft: a client that subscribed to the system event AircraftLoaded gets
EVENT_FILENAME with the aircraft.cfg path at each load (SIGUSR1); the TITLE
variable (a string type: STRING8 to STRING260, STRINGV) and the system state
AircraftLoaded follow. The trace has {"call":"LoadAircraft","title",
"path"} and standard error a line. System events SimConnect documents are
subscribed to (only AircraftLoaded happens here), others draw
NAME_UNRECOGNIZED (7), index 2, and an event ID already mapped or
subscribed draws EVENT_ID_DUPLICATE (9), index 1. RequestSystemState
answers AircraftLoaded (the path), Sim (1), DialogMode (0), FlightLoaded
and FlightPlan (empty); other names draw 7, index 2.

Input events: EnumerateInputEvents lists them (name, hash, type FLOAT64) in
records of at most 64, one empty record when there are none. The hash is
the 64-bit FNV-1a of the name's bytes. SetInputEvent takes an 8-byte double
and sets the value (in the trace and --state-out); an unknown hash draws
NAME_UNRECOGNIZED (7), index 1, another size INVALID_DATA_SIZE (19), index 2.

SetDataOnSimObject writes one unit of a definition's datums, all or none:
L:vars and unmodelled variables take any number; modelled ones what --set
takes, in the datum's unit (not BCD16); TITLE is read-only. An unknown
definition draws UNRECOGNIZED_ID (3), index 1; TAGGED DATA_ERROR (20),
index 3; a count other than 1 INVALID_ARRAY (21), index 4; a block that is
not the definition's SIZE_MISMATCH (2), index 5; a value refused
DATA_ERROR (20), index 6. ClearDataDefinition removes a definition and its
requests.

Requests: period NEVER stops a request, ONCE sends once, VISUAL_FRAME and
SIM_FRAME send every frame, SECOND every second; flag CHANGED sends only
when the block differs from the last one sent; origin, interval and limit
count periods as in SimConnect. TAGGED is not supported (sent untagged).

Client data: areas are found by their exact name. Mapping a name is always
accepted (DUPLICATE_ID (29) for an ID used for another name, index 2);
CreateClientData answers ALREADY_CREATED (32) for a name that exists and
OUT_OF_BOUNDS (31) for a size outside 1..8192; an area goes when the client
that created it leaves (at most 256 areas in all). A request on a name no
one created is accepted and sends nothing until the area exists; writing
there draws UNRECOGNIZED_ID (3), index 1. SetClientData must carry exactly
its definition's bytes (SIZE_MISMATCH (2), index 5); a read-only area takes
writes from its creator only (ILLEGAL_OPERATION (25)). Periods: ON_SET sends
after every write of the area (by anyone), VISUAL_FRAME every frame, SECOND
every second, ONCE once; CHANGED, origin, interval and limit as for
requests; TAGGED is not supported. Records have object ID 0. A client-data
packet of the wrong size draws SIZE_MISMATCH without ending the connection.
Trace lines: "MapClientDataNameToID", "CreateClientData",
"AddToClientDataDefinition", "ClearClientDataDefinition",
"RequestClientData" and "SetClientData" with their fields ("text": the data
written, up to its first NUL byte).

With --mobiflight the model keeps the channel "MobiFlight" (areas
MobiFlight.LVars 4096 bytes, .Command 1024, .Response 1024, .StringVars
8192) and those clients add with MF.Clients.Add.NAME (at most 32, NAME 1 to
64 letters, digits, '_' or '-'; an existing one is reused with its
variables). It answers MF.Ping with MF.Pong and MF.Version.Get with
MF.Version.VERSION; MF.SimVars.Add.CODE registers a float32 at offset 4k of
NAME.LVars (at most 1024), written at once and then when it changes (up to
MF.Config.MAX_VARS_PER_FRAME.Set.N per frame, 30 at first); MF.SimVars.Clear
zeroes and forgets them; MF.SimVars.Set.CODE runs calculator code. CODE may
hold numbers, + - * /, (L:NAME), (A:NAME, UNIT), (>L:NAME), (>K:NAME) (the
event applied as a TransmitClientEvent of it would be, with the value before
it as data, else 0) and (>H:NAME); other code is refused, said once. A
command equal to the channel's previous one is ignored, as the real module
does. Each command acted on is traced as {"call":"MobiFlight","command":...}
and each H: event run as {"call":"HEvent","name":...} (with "t_ns", without
"client"). Without --mobiflight nothing answers MF.Ping.

Exit status: 0 after SIGINT/SIGTERM or --once, 1 on a runtime error (e.g.
port in use, or a write to the trace, the state file or standard output
that failed, said on standard error when it happens), 2 on a usage error.
)help";
    return text;
}

}  // namespace simemu
