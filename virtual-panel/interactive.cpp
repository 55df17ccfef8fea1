#include "interactive.h"

#include <iterator>

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
};

// Enter is a second key for ENT.
constexpr ButtonKey kButtonKeys[] = {
    {' ', 9},  {'t', 4},  {'m', 5},  {'c', 6},  {'e', 7},  {'x', 8},
    {'p', 14}, {'h', 15}, {'n', 16}, {'r', 17}, {'l', 18}, {'v', 19},
};

// Erases the line under the cursor.
constexpr const char* kClearLine = "\r\x1b[K";

}  // namespace

std::string keyHelp() {
    std::string text =
        "Keys (the panel played from the keyboard, without --script):\n"
        "  outer knob: a / d or Left / Right     inner knob: s / w or Down / Up\n"
        "  modes:";
    for (std::size_t i = 0; i < kModeNames.size(); ++i) {
        text += "  " + std::to_string(i + 1) + " " + std::string(kModeNames[i]);
    }
    text += "\n  buttons, each key a press then a release (Enter is ENT too):";
    for (std::size_t i = 0; i < std::size(kButtonKeys); ++i) {
        const ButtonKey& b = kButtonKeys[i];
        text += i % 6 == 0 ? "\n   " : "";
        text += "  " + (b.key == ' ' ? std::string("space") : std::string(1, b.key)) + " " + buttonName(b.bit);
    }
    text +=
        "\n  u unplug / plug    ? this help    q quit\n"
        "The status line shows the mode, the LEDs ([AP] lit, AP dark), the buttons\n"
        "of the last press and the last action; the program's output goes above it.\n";
    return text;
}

Interactive::Interactive(PanelDevice& device, std::FILE* out, bool verbose)
    : device_(device), out_(out), verbose_(verbose) {}

void Interactive::printHelp() {
    show(out_, keyHelp());
    if (!drawn_) {
        redraw();
    }
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
    case '?': printHelp(); return;
    default: break;
    }
    if (c >= '1' && c <= '8') {
        selectMode(static_cast<std::uint8_t>(c - '1'));
        return;
    }
    for (const ButtonKey& b : kButtonKeys) {
        if (b.key == c || (c == '\n' && b.bit == 7)) {
            press(b.bit);
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
        show(stderr, "panel: " + describeInput(last_, in));
    }
    last_ = in;
}

void Interactive::turn(bool outer, int delta) {
    PanelInput in{last_.mode, 0, 0, 0};
    (outer ? in.outer : in.inner) = static_cast<std::int8_t>(delta);
    send(in, std::string(outer ? "outer " : "inner ") + (delta > 0 ? "+1" : "-1"));
}

void Interactive::press(int bit) {
    PanelInput in{last_.mode, std::uint32_t{1} << bit, 0, 0};
    pressed_ = in.buttons;
    send(in, "press " + buttonName(bit));
    const std::string pressed = lastAction_;
    in.buttons = 0;
    send(in, "release");
    lastAction_ = pressed;
}

void Interactive::selectMode(std::uint8_t mode) { send(PanelInput{mode, 0, 0, 0}, "mode " + modeName(mode)); }

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
    // Auto-wrap off while drawing: a line wider than the terminal is cut at
    // its edge instead of wrapping onto a line the next redraw cannot erase.
    std::string line = std::string(kClearLine) + "\x1b[?7l[" + modeName(last_.mode) + "] LEDs:";
    for (std::size_t i = 0; i < kLedNames.size(); ++i) {
        const std::string name(kLedNames[i]);
        // Named either way; lit ones bracketed and in reverse video, dark
        // ones faint, so that the state shows without colours too.
        line += (leds_ & (1u << i)) != 0 ? " \x1b[7m[" + name + "]\x1b[0m" : " \x1b[2m " + name + " \x1b[0m";
    }
    char buttons[16];
    std::snprintf(buttons, sizeof buttons, "0x%08x", static_cast<unsigned>(pressed_));
    line += "  buttons " + std::string(buttons) + "  last: " + lastAction_;
    if (!device_.plugged()) {
        line += "  [UNPLUGGED]";
    }
    line += "\x1b[?7h";
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
    drawn_ = true;
}

void Interactive::show(std::FILE* stream, std::string_view text) {
    const bool wasDrawn = drawn_;
    if (wasDrawn) {
        std::fputs(kClearLine, out_);
        std::fflush(out_);
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    if (text.empty() || text.back() != '\n') {
        std::fputc('\n', stream);
    }
    std::fflush(stream);
    if (wasDrawn) {
        redraw();
    }
}

void Interactive::finish() {
    if (drawn_) {
        std::fputs("\n", out_);
        std::fflush(out_);
        drawn_ = false;
    }
}

}  // namespace vpanel
