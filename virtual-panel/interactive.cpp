#include "interactive.hpp"

#include <unistd.h>

namespace vpanel {

RawTerminal::RawTerminal(int fd) : fd_(fd) {
    if (::isatty(fd_) == 0 || ::tcgetattr(fd_, &saved_) != 0) {
        return;
    }
    termios raw = saved_;
    // Keys arrive one by one without echo; output processing and the
    // terminal's own Ctrl-C stay, so COMMAND's lines still print normally.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(fd_, TCSANOW, &raw) == 0;
}

RawTerminal::~RawTerminal() {
    if (active_) {
        ::tcsetattr(fd_, TCSANOW, &saved_);
    }
}

namespace {

struct ButtonKey {
    char key;
    int bit;
    std::string_view name;
};

constexpr ButtonKey kButtonKeys[] = {
    {'t', 4, "DIRECT_TO"}, {'m', 5, "MENU"},     {'c', 6, "CLR"},      {'e', 7, "ENT"},
    {'x', 8, "SWAP"},      {' ', 9, "KNOB_PUSH"}, {'p', 14, "AP/CDI"},  {'h', 15, "HDG/OBS"},
    {'n', 16, "NAV/MSG"},  {'r', 17, "APR/FPL"},  {'l', 18, "ALT/VNAV"}, {'v', 19, "VS/PROC"},
};

}  // namespace

Interactive::Interactive(PanelDevice& device, std::FILE* out, bool verbose)
    : device_(device), out_(out), verbose_(verbose) {}

void Interactive::printHelp() {
    std::fprintf(out_,
                 "Virtual panel keys:\n"
                 "  outer knob: a / d or Left / Right     inner knob: s / w or Down / Up\n"
                 "  modes: 1 COM1  2 COM2  3 NAV1  4 NAV2  5 FMS1  6 FMS2  7 AP  8 XPDR\n"
                 "  buttons: space KNOB_PUSH  t DIRECT_TO  m MENU  c CLR  e ENT  x SWAP\n"
                 "           p AP/CDI  h HDG/OBS  n NAV/MSG  r APR/FPL  l ALT/VNAV  v VS/PROC\n"
                 "  u unplug / plug    ? this help    q quit\n");
    redraw();
}

void Interactive::keys(std::span<const char> bytes) {
    for (char c : bytes) {
        // Arrow keys arrive as ESC [ A..D.
        if (escapeState_ == 1) {
            escapeState_ = c == '[' ? 2 : 0;
            continue;
        }
        if (escapeState_ == 2) {
            escapeState_ = 0;
            switch (c) {
                case 'A': turn(false, +1); break;
                case 'B': turn(false, -1); break;
                case 'C': turn(true, +1); break;
                case 'D': turn(true, -1); break;
                default: break;
            }
            continue;
        }
        if (c == '\x1b') {
            escapeState_ = 1;
            continue;
        }
        key(c);
    }
    redraw();
}

void Interactive::key(char c) {
    switch (c) {
        case 'a': turn(true, -1); return;
        case 'd': turn(true, +1); return;
        case 's': turn(false, -1); return;
        case 'w': turn(false, +1); return;
        case 'u': togglePlug(); return;
        case 'q': quit_ = true; return;
        case '?': std::fputs("\n", out_); printHelp(); return;
        default: break;
    }
    if (c >= '1' && c <= '8') {
        selectMode(static_cast<std::uint8_t>(c - '1'));
        return;
    }
    for (const ButtonKey& b : kButtonKeys) {
        if (b.key == c || (c == '\n' && b.bit == 7)) {
            press(b.bit, b.name);
            return;
        }
    }
}

void Interactive::send(const PanelInput& in, const std::string& what) {
    const auto bytes = encodeInput(in);
    switch (device_.sendInput(bytes)) {
        case InputResult::Queued: lastAction_ = what; break;
        case InputResult::DroppedFull: lastAction_ = what + " (queue full: dropped)"; break;
        case InputResult::DroppedUnplugged: lastAction_ = what + " (unplugged: dropped)"; break;
    }
    if (verbose_) {
        std::fprintf(stderr, "\npanel: %s\n", describeInput(last_, in).c_str());
    }
    last_ = in;
}

void Interactive::turn(bool outer, int delta) {
    PanelInput in{last_.mode, 0, 0, 0};
    (outer ? in.outer : in.inner) = static_cast<std::int8_t>(delta);
    send(in, std::string(outer ? "outer " : "inner ") + (delta > 0 ? "+1" : "-1"));
}

void Interactive::press(int bit, std::string_view name) {
    PanelInput in{last_.mode, std::uint32_t{1} << bit, 0, 0};
    send(in, "press " + std::string(name));
    const std::string pressed = lastAction_;
    in.buttons = 0;
    send(in, "release");
    lastAction_ = pressed;
}

void Interactive::selectMode(std::uint8_t mode) {
    send(PanelInput{mode, 0, 0, 0}, "mode " + modeName(mode));
}

void Interactive::togglePlug() {
    if (device_.plugged()) {
        device_.unplug();
        lastAction_ = "unplugged";
    } else {
        device_.plug();
        lastAction_ = "plugged in";
    }
}

void Interactive::leds(std::uint8_t byte) {
    leds_ = byte;
    redraw();
}

void Interactive::redraw() {
    std::string line = "\r\x1b[K[" + modeName(last_.mode) + "] LEDs:";
    for (std::size_t i = 0; i < kLedNames.size(); ++i) {
        const bool on = (leds_ & (1u << i)) != 0;
        line += ' ';
        // Lit LEDs in reverse video, dark ones as dots of the same width.
        line += on ? "\x1b[7m" + std::string(kLedNames[i]) + "\x1b[0m" : std::string(kLedNames[i].size(), '.');
    }
    char buttons[16];
    std::snprintf(buttons, sizeof buttons, "0x%08x", static_cast<unsigned>(last_.buttons));
    line += "  buttons " + std::string(buttons) + "  last: " + lastAction_;
    if (!device_.plugged()) {
        line += "  [UNPLUGGED]";
    }
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
}

void Interactive::finish() {
    std::fputs("\n", out_);
    std::fflush(out_);
}

}  // namespace vpanel
