#include "text.h"

namespace simemu {

std::string printable(std::string_view text) {
    // Longer than any real event or client name; a hostile 255-byte name
    // would otherwise fill a line of the live view four times over.
    constexpr std::size_t kMaxShown = 80;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size() && i < kMaxShown; ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += static_cast<char>(b);
        } else {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    if (text.size() > kMaxShown) {
        out += "...";
    }
    return out;
}

}  // namespace simemu
