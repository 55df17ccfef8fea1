// H: events, calculator code (RPN:) and R: LED sources: what only the
// MobiFlight WASM module's channel can carry into the simulator.
#ifndef PROFILES_MOBIFLIGHT_CHANNEL_H
#define PROFILES_MOBIFLIGHT_CHANNEL_H

#include <string>

#include "profiles/profile.h"

namespace profiles {

// Resolves one action or LED term that needs the channel, written as
// `text` at `line` of `profile`. This program has no channel yet, so each is
// refused: false, with `fault` saying so ("FILE:LINE: ..."); the channel
// takes this place when it comes.
bool resolveThroughChannel(const Profile& profile, int line, const std::string& text, std::string& fault);

}  // namespace profiles

#endif
