// What a person watching the emulator sees: one line per applied event when
// stdout is a pipe or file (a demo shows these beside the panel's actions),
// or a live view redrawn in place when it is a terminal.
#ifndef SIM_EMULATOR_DISPLAY_H
#define SIM_EMULATOR_DISPLAY_H

#include "output.h"
#include "simulator.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace simemu {

// "NAV1_STBY_SET 0x11345 -> NAV STANDBY FREQUENCY:1 = 113.45"
std::string describeApplied(const AppliedEvent& applied);

struct ViewInfo {
    std::string address;  // "127.0.0.1:500"
    unsigned frame_ms = 0;
    unsigned delay_frames = 0;
    struct Client {
        int number = 0;
        std::optional<std::string> name;  // from its Open, as sent
    };
    std::vector<Client> clients;
};

class Display {
public:
    Display(Output& out, bool terminal, bool quiet) : out_(out), terminal_(terminal), quiet_(quiet) {}

    // Records an applied event; in line mode prints it at once. The client
    // number is shown once more than one client has been seen.
    void applied(const AppliedEvent& applied, bool show_client);
    // Records another change a client or the emulator made (a variable set
    // with SetDataOnSimObject, an input event, an aircraft loaded), shown
    // like an applied event. Client 0 is the emulator itself.
    void changed(std::string line, int client, bool show_client);

    bool live() const { return terminal_ && !quiet_; }
    // Redraws the live view (terminal mode only; the caller paces it).
    void redraw(const Simulator& sim, const ViewInfo& view);
    // A message for whoever watches, shown in the live view (the last few).
    void note(std::string text);
    // Leaves the terminal below the last view.
    void finish();

private:
    Output& out_;
    bool terminal_;
    bool quiet_;
    bool drawn_ = false;
    std::deque<std::string> recent_;
    std::deque<std::string> notes_;
};

}  // namespace simemu

#endif
