#include "text.h"

#include "simconnect_protocol/protocol.h"

#include <algorithm>

namespace simemu {

std::string printable(std::string_view text) {
    // Longer than any real event or client name; a hostile 255-byte name
    // would otherwise fill a line of the live view four times over.
    return scproto::printable(text, 80);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lx = (x >= 'A' && x <= 'Z') ? char(x - 'A' + 'a') : x;
               const auto ly = (y >= 'A' && y <= 'Z') ? char(y - 'A' + 'a') : y;
               return lx == ly;
           });
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

}  // namespace simemu
