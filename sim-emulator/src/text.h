// Text helpers: names matched as SimConnect matches them, and text a client
// sent made safe to show on a terminal.
#ifndef SIM_EMULATOR_TEXT_H
#define SIM_EMULATOR_TEXT_H

#include <string>
#include <string_view>

namespace simemu {

// Client-supplied text (an Open name, an event, variable or unit name) as
// it may be shown in the live view, the event lines or a message: printable
// ASCII kept, a backslash and every other byte as \xNN, so that no escape
// sequence or line feed reaches the terminal; cut after 80 bytes with "...".
std::string printable(std::string_view text);

// ASCII letters compared and lowered without the locale, as SimConnect
// matches names.
bool equalsIgnoreCase(std::string_view a, std::string_view b);
std::string lowerCase(std::string_view text);
// Without leading and trailing spaces and tabs.
std::string_view trim(std::string_view text);

}  // namespace simemu

#endif
