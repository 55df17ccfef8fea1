#include "profiles/mobiflight_channel.h"

namespace profiles {

bool resolveThroughChannel(const Profile& profile, int line, const std::string& text, std::string& fault) {
    fault = profile.path + ":" + std::to_string(line) + ": \"" + text +
            "\" needs the MobiFlight WASM module's channel, which this program does not have yet; profile \"" +
            profile.name + "\" not used";
    return false;
}

}  // namespace profiles
