// The panel at the keyboard: keys become reports, output reports light the
// LEDs on a status line redrawn in place.
#ifndef VIRTUAL_PANEL_INTERACTIVE_H
#define VIRTUAL_PANEL_INTERACTIVE_H

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include <termios.h>

#include "panel_device.h"
#include "panel_report.h"

namespace vpanel {

// Unbuffered, unechoed key input for as long as it lives; the terminal is
// restored by the destructor (and so on every exit path of the loop,
// including the signals it turns into a normal return).
class RawTerminal {
public:
    explicit RawTerminal(int fd);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;
    bool active() const { return active_; }

private:
    int fd_;
    bool active_ = false;
    termios saved_{};
};

// The keys of the keyboard mode, as `?` and `virtual-panel --help` list them.
std::string keyHelp();

class Interactive {
public:
    Interactive(PanelDevice& device, std::FILE* out, bool verbose);

    void printHelp();
    // Bytes read from the keyboard; escape sequences may be split between calls.
    void keys(std::span<const char> bytes);
    void leds(std::uint8_t byte);
    void redraw();
    // Text for `stream` (our stdout or stderr) shown above the status line,
    // which is taken down first and drawn again below it; a missing final
    // newline is added, so the status line always starts a fresh line.
    void show(std::FILE* stream, std::string_view text);
    void finish();  // leaves the cursor below the status line
    bool quitRequested() const { return quit_; }

private:
    void key(char c);
    void turn(bool outer, int delta);
    void press(int bit);
    void selectMode(std::uint8_t mode);
    void togglePlug();
    void send(const PanelInput& in, const std::string& what);

    PanelDevice& device_;
    std::FILE* out_;
    bool verbose_;
    PanelInput last_{};
    std::uint32_t pressed_ = 0;  // the buttons of the last press sent
    std::uint8_t leds_ = 0;
    std::string lastAction_ = "none yet";
    int escapeState_ = 0;
    bool quit_ = false;
    bool drawn_ = false;  // the status line is on screen, under the cursor
};

}  // namespace vpanel

#endif
