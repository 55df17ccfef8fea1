#include "display.h"

#include "text.h"
#include "value_text.h"

#include <cinttypes>

namespace simemu {
namespace {

constexpr std::size_t kRecentLines = 12;
constexpr std::size_t kNoteLines = 3;

std::string dataText(DataFormat format, std::uint32_t data) {
    char buf[32];
    switch (format) {
    case DataFormat::None: return "";
    case DataFormat::Hex: std::snprintf(buf, sizeof buf, " 0x%" PRIX32, data); return buf;
    case DataFormat::Signed: std::snprintf(buf, sizeof buf, " %" PRId32, static_cast<std::int32_t>(data)); return buf;
    case DataFormat::Unsigned: break;
    }
    std::snprintf(buf, sizeof buf, " %" PRIu32, data);
    return buf;
}

std::string onOff(const Model& m, Var v) { return m.value(v) != 0.0 ? "ON " : "off"; }

std::string show(const Model& m, Var v) { return formatValue(v, m.value(v)); }

}  // namespace

std::string describeApplied(const AppliedEvent& a) {
    std::string text;
    switch (a.name_class) {
    case NameClass::Sim: {
        text = printable(a.name) + dataText(a.event->data_format, a.data) + " -> ";
        if (!a.effect.ignored.empty()) {
            text += "ignored: " + std::string(a.effect.ignored);
            break;
        }
        for (int i = 0; i < a.effect.count; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const Var v = a.effect.vars[k];
            text += (i ? ", " : "") + std::string(info(v).name) + " = " + formatValue(v, a.effect.values[k]);
        }
        if (a.effect.limited) {
            text += " (held by --limit)";
        }
        break;
    }
    case NameClass::Custom:
        text = (a.name.empty() ? std::string("(empty name)") : printable(a.name)) +
               dataText(DataFormat::Unsigned, a.data) + " -> " +
               (a.name.empty() ? "private client event" : "custom event") + ", no effect here (" +
               std::to_string(a.count) + (a.count == 1 ? " time)" : " times)");
        break;
    case NameClass::Unknown:
        text = printable(a.name) + dataText(DataFormat::Unsigned, a.data) +
               " -> unknown to the simulator, no effect (" + std::to_string(a.count) +
               (a.count == 1 ? " time)" : " times)");
        break;
    }
    return text;
}

void Display::applied(const AppliedEvent& a, bool show_client) {
    if (!quiet_) {
        changed(describeApplied(a), a.client, show_client);
    }
}

void Display::changed(std::string line, int client, bool show_client) {
    if (quiet_) {
        return;
    }
    if (show_client && client > 0) {
        line = "[client " + std::to_string(client) + "] " + line;
    }
    if (terminal_) {
        recent_.push_back(std::move(line));
        if (recent_.size() > kRecentLines) {
            recent_.pop_front();
        }
        return;
    }
    out_.write(line + "\n");
}

void Display::redraw(const Simulator& sim, const ViewInfo& view) {
    if (!live()) {
        return;
    }
    const Model& m = sim.model();
    std::string s = "\x1b[H\x1b[J";  // home, clear to end of screen
    char buf[256];
    std::snprintf(buf, sizeof buf, "sim-emulator on %s   frame %" PRIu64 " (%u ms, events +%u frames)\n",
                  view.address.c_str(), sim.frame(), view.frame_ms, view.delay_frames);
    s += buf;
    s += "aircraft: " + printable(sim.aircraft().title) + " (" + printable(sim.aircraft().path) + ")\n";
    s += "clients:";
    if (view.clients.empty()) {
        s += " none";
    }
    for (const auto& c : view.clients) {
        s += "  [" + std::to_string(c.number) + " " + (c.name ? printable(*c.name) : "(not open)") + "]";
    }
    s += "\n\n";
    std::snprintf(buf, sizeof buf,
                  "  COM1 %s  stby %s      COM2 %s  stby %s\n"
                  "  NAV1 %s   stby %s       NAV2 %s   stby %s\n",
                  show(m, Var::ComActive1).c_str(), show(m, Var::ComStandby1).c_str(), show(m, Var::ComActive2).c_str(),
                  show(m, Var::ComStandby2).c_str(), show(m, Var::NavActive1).c_str(),
                  show(m, Var::NavStandby1).c_str(), show(m, Var::NavActive2).c_str(),
                  show(m, Var::NavStandby2).c_str());
    s += buf;
    std::snprintf(buf, sizeof buf, "  HDG bug %s   OBS1 %s   OBS2 %s   XPDR %s   BARO %s inHg / %s hPa\n",
                  show(m, Var::HeadingBug).c_str(), show(m, Var::Obs1).c_str(), show(m, Var::Obs2).c_str(),
                  show(m, Var::Transponder).c_str(), show(m, Var::KohlsmanHg).c_str(),
                  show(m, Var::KohlsmanMb).c_str());
    s += buf;
    std::snprintf(buf, sizeof buf, "  AP ALT %s ft   VS %s ft/min   GPS drives NAV1 %s\n",
                  show(m, Var::ApAltitude).c_str(), show(m, Var::ApVerticalSpeed).c_str(),
                  onOff(m, Var::GpsDrivesNav1).c_str());
    s += buf;
    std::snprintf(buf, sizeof buf, "  AP %s  HDG %s  NAV %s  APR %s  ALT %s  VS %s\n\n",
                  onOff(m, Var::ApMaster).c_str(), onOff(m, Var::ApHeadingLock).c_str(),
                  onOff(m, Var::ApNav1Lock).c_str(), onOff(m, Var::ApApproachHold).c_str(),
                  onOff(m, Var::ApAltitudeLock).c_str(), onOff(m, Var::ApVerticalHold).c_str());
    s += buf;
    std::uint64_t custom = 0;
    for (const auto& [name, count] : sim.customCounts()) {
        custom += count;
    }
    s += "  custom events: " + std::to_string(custom) + " (" + std::to_string(sim.customCounts().size()) + " names)";
    for (const auto& [name, count] : sim.unknownCounts()) {
        s += "   unknown " + printable(name) + " x" + std::to_string(count);
    }
    s += "\n\nlast events:\n";
    for (const auto& line : recent_) {
        s += "  " + line + "\n";
    }
    if (!notes_.empty()) {
        s += "\nnotes:\n";
        for (const auto& line : notes_) {
            s += "  " + line + "\n";
        }
    }
    out_.write(s);
    drawn_ = true;
}

void Display::note(std::string text) {
    notes_.push_back(std::move(text));
    if (notes_.size() > kNoteLines) {
        notes_.pop_front();
    }
}

void Display::finish() {
    if (drawn_) {
        out_.write("\n");
    }
}

}  // namespace simemu
