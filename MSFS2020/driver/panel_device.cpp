#include "driver/panel_device.h"

#include <cstdio>
#include <cwchar>

#include "profiles/profile_layer.h"

namespace {

// hidapi's wide error text, narrowed for a message: ASCII kept, the rest '?'.
void narrow(const wchar_t* text, char (&out)[200]) {
    std::size_t n = 0;
    for (; text != nullptr && text[n] != L'\0' && n + 1 < sizeof out; ++n) {
        const wchar_t c = text[n];
        out[n] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    out[n] = '\0';
}

#if defined(__linux__)
constexpr const char* kPermissionHint =
    " (on Linux the panel needs the udev rule: see \"The panel: access without root\" in the README)";
#else
constexpr const char* kPermissionHint = "";
#endif

void writeLeds(PanelState& panel, std::uint8_t leds) {
    const LedReport report = makeLedReport(leds);
    // Not retried on failure: the next write comes with the next change (or
    // the next open). Nor is the panel closed: one that refuses the LED report
    // must still be read, and an unplugged one fails its next read anyway.
    hid_write(panel.device, report.data(), report.size());
    panel.led_state = leds;
}

// Says why the panel could not be opened, once per change of reason.
void explainMissingPanel(PanelState& panel) {
    hid_device_info* found = hid_enumerate(kPanelVendorId, kPanelProductId);
    if (found == nullptr) {
        if (panel.presence != PanelPresence::Missing) {
            std::fprintf(stderr, "msfs-panel: no panel found (USB %04x:%04x); looking for it about once a second\n",
                         kPanelVendorId, kPanelProductId);
        }
        panel.presence = PanelPresence::Missing;
        return;
    }
    if (panel.presence != PanelPresence::Unopenable) {
        char reason[200];
        narrow(hid_error(nullptr), reason);
        std::fprintf(stderr,
                     "msfs-panel: panel found at %s but it cannot be opened: %s%s; trying again about once a second\n",
                     found->path != nullptr ? found->path : "(no path)", reason, kPermissionHint);
    }
    panel.presence = PanelPresence::Unopenable;
    hid_free_enumeration(found);
}

// hid_open takes the first device hidapi lists with the panel's IDs.
void sayOpened(PanelState& panel) {
    hid_device_info* found = hid_enumerate(kPanelVendorId, kPanelProductId);
    if (found != nullptr && found->path != nullptr) {
        std::fprintf(stderr, "msfs-panel: panel opened (%s)\n", found->path);
    } else {
        std::fprintf(stderr, "msfs-panel: panel opened (USB %04x:%04x)\n", kPanelVendorId, kPanelProductId);
    }
    hid_free_enumeration(found);
    panel.presence = PanelPresence::Open;
}

}  // namespace

void openPanel(PanelState& panel) {
    panel.device = hid_open(kPanelVendorId, kPanelProductId, nullptr);
    panel.passes_until_open = kPanelRetryPasses;
    if (panel.device == nullptr) {
        explainMissingPanel(panel);
        return;
    }
    hid_set_nonblocking(panel.device, 1);
    sayOpened(panel);
    writeLeds(panel, panel.simInterface->getLedState());
}

void lookForPanel(PanelState& panel) {
    if (panel.device != nullptr || --panel.passes_until_open > 0) {
        return;
    }
    openPanel(panel);
}

void losePanel(PanelState& panel) {
    char reason[200];
    narrow(hid_error(panel.device), reason);
    hid_close(panel.device);
    panel.device = nullptr;
    panel.passes_until_open = kPanelRetryPasses;
    // Gone is the state to report; finding nothing next time is no news.
    panel.presence = PanelPresence::Missing;
    std::fprintf(stderr, "msfs-panel: panel unplugged (read failed: %s); looking for it again\n", reason);
}

void updateLeds(PanelState& panel) {
    if (panel.device == nullptr) {
        return;
    }
    const std::uint8_t leds = profiles::profileLayer.leds(panel.simInterface->getLedState());
    if (leds != panel.led_state) {
        writeLeds(panel, leds);
    }
}

void closePanel(PanelState& panel) {
    if (panel.device == nullptr) {
        return;
    }
    writeLeds(panel, 0);
    hid_close(panel.device);
    panel.device = nullptr;
}
