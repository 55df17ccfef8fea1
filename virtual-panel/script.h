// The script language of virtual-panel: one command per line, `#` starts a
// comment, blank lines are ignored.
//
//   report MODE BUTTONS OUTER INNER   one 8-byte input report, report ID 1
//   raw HEX...                        the given bytes as one report (1..64)
//   wait MS                           pause
//   unplug / plug                     the device disappears / comes back
//   leds fail / leds ok               the program's writes to the panel fail
//                                     (hid_write returns -1) / succeed again
#ifndef VIRTUAL_PANEL_SCRIPT_H
#define VIRTUAL_PANEL_SCRIPT_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vpanel {

struct ScriptAction {
    enum class Kind { Report, Wait, Unplug, Plug, LedsFail, LedsOk };
    Kind kind = Kind::Report;
    std::vector<std::uint8_t> bytes;  // Report: the whole report
    std::uint32_t ms = 0;             // Wait
    int line = 0;
};

struct ScriptError {
    int line = 0;
    std::string reason;
};

struct ParsedScript {
    std::vector<ScriptAction> actions;
    std::optional<ScriptError> error;  // the first malformed line, if any
};

ParsedScript parseScript(std::string_view text);

}  // namespace vpanel

#endif
