// The simulator interface for Microsoft Flight Simulator 2020 over SimConnect.
#ifndef MSFS_PANEL_FLIGHT_SIM_INTERFACE_MSFS_H
#define MSFS_PANEL_FLIGHT_SIM_INTERFACE_MSFS_H

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

#include "simconnect/simconnect_api.h"
#include "simulator/client_events.h"
#include "simulator/flight_sim_interface.h"

// Data definitions and requests; each request asks for the definition with
// the same number.
enum : SIMCONNECT_DATA_DEFINITION_ID { DEF_RADIOS = 0, DEF_AUTOPILOT = 1 };
enum : SIMCONNECT_DATA_REQUEST_ID { REQ_RADIOS = 0, REQ_AUTOPILOT = 1 };

// The data block of a SIMCONNECT_RECV_SIMOBJECT_DATA record starts at its
// last member, dwData (the block's first word).
inline constexpr std::size_t kDataRecordHeaderSize = sizeof(SIMCONNECT_RECV_SIMOBJECT_DATA) - sizeof(DWORD);

using SimClock = std::chrono::steady_clock;

// How long a value the program set keeps its local value against data blocks
// that do not show it yet: long enough for a simulator a few frames late,
// short enough that a change made in the simulator itself shows at once.
inline constexpr std::chrono::milliseconds kLocalHoldOff{500};

inline SimClock::time_point steadyNow() { return SimClock::now(); }

// A cached value the program does not have: no block has shown it since the
// connection began, or a swap has just exchanged it for one the program never
// saw. Nothing is computed from it.
inline constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// How long a knob turn waits for the simulator's value of what it changes
// before it is dropped: blocks come every frame, so a simulator that has sent
// none in this time is loading, frozen or not sending that block at all.
inline constexpr std::chrono::seconds kDataWait{2};
// At most this many turns wait; more than a panel sends in kDataWait.
inline constexpr std::size_t kMaxWaitingTurns = 128;

// The cached members that the operations set outright.
enum class HeldMember : std::size_t {
    Nav1Standby,
    Nav2Standby,
    HeadingBug,
    Obs1,
    Obs2,
    ApAltitude,
    ApVerticalSpeed,
    TransponderCode,
    Count,
};

class FlightSimInterfaceMSFS : public FlightSimInterface {
public:
    constexpr FlightSimInterfaceMSFS() = default;

    int setupConnection() override;
    int tuneCom(std::uint8_t radio, std::int8_t outer, std::int8_t inner) override;
    int tuneNav(std::uint8_t radio, std::int8_t outer, std::int8_t inner) override;
    int adjustHeadingBug(std::uint8_t selector, std::int8_t outer, std::int8_t inner) override;
    int adjustCourse(std::uint8_t selector, std::int8_t outer, std::int8_t inner) override;
    int turnFmsKnobs(std::uint8_t unit, std::int8_t outer, std::int8_t inner) override;
    int adjustAltitudeAndVerticalSpeed(std::uint8_t selector, std::int8_t outer, std::int8_t inner) override;
    int adjustTransponder(std::uint8_t selector, std::int8_t outer, std::int8_t inner) override;
    int adjustBarometer(std::uint8_t selector, std::int8_t outer, std::int8_t inner) override;
    int pressKey(KeyCommand command) override;
    std::uint8_t getLedState() override;

    // The cache of simulator state (SimState). Refreshed every simulation
    // frame from the two data blocks; the operations that send an absolute
    // value write it here at once, so that reports handled before the next
    // block build on what was just sent. Values are unknown (kUnknown, or no
    // code) until a block brings them: the operations that would compute
    // from them wait for it instead (see serveWaitingTurns).
    //
    // Radio block (DEF_RADIOS), MHz and degrees.
    double com1_standby = kUnknown;  // received and kept, read by no operation
    double com2_standby = kUnknown;
    double nav1_standby = kUnknown;
    double nav2_standby = kUnknown;
    double heading_bug = kUnknown;
    double obs1 = kUnknown;
    double obs2 = kUnknown;
    // Autopilot block (DEF_AUTOPILOT).
    double ap_altitude = kUnknown;                  // feet
    double ap_vertical_speed = kUnknown;            // feet per minute
    std::optional<std::uint32_t> transponder_code;  // BCO16: four octal digits, one per nibble
    // The six "Bool" states: on when non-zero, off (LED dark) until known.
    std::int32_t ap_master = 0;
    std::int32_t ap_heading_lock = 0;
    std::int32_t ap_nav1_lock = 0;
    std::int32_t ap_approach_hold = 0;
    std::int32_t ap_altitude_lock = 0;
    std::int32_t ap_vertical_hold = 0;

    // The connection handle the main loop owns; set by it after a successful
    // SimConnect_Open and before setupConnection. Every call goes through it.
    HANDLE* connection = nullptr;

    // Overwrites one cached block with a received data block. The one place
    // the cache takes values from the simulator. `payload` holds `length`
    // bytes; a block shorter than its definition is ignored. A member the
    // program has just set keeps its local value until the block shows that
    // value or kLocalHoldOff has passed: blocks the simulator produced before
    // it applied the event are still on their way, and taking them would make
    // the next detent start again from the old value. A datum that is not a
    // finite number leaves its member as it was.
    void storeDataBlock(SIMCONNECT_DATA_REQUEST_ID request, const unsigned char* payload, std::size_t length);

    // The clock the hold-off runs on; tests replace it.
    SimClock::time_point (*clock)() = &steadyNow;

    // Records the dispatch handler has been given since the start: a
    // simulator alive streams a data block every frame.
    std::uint64_t records_received = 0;
    // Set by the dispatch handler when the simulator's QUIT record arrives:
    // the simulator is going away, and the main loop ends the connection.
    bool quit_received = false;
    // Whether exceptions to calls other than the set-up calls are reported
    // too (the verbose log); those to set-up calls always are.
    bool report_every_exception = false;

    // Forgets all that came from a simulator (its values, the values held
    // against it, the turns waiting for it, its QUIT, the set-up calls made),
    // as when its connection has ended: a new connection starts from nothing
    // like the first.
    void forgetSimulator();

    // Turns of a knob whose event carries a value computed from the cache
    // (NAV standby, heading bug, courses, altitude, vertical speed,
    // transponder), made while the cache did not hold the simulator's value,
    // wait here in order, with the NAV swaps made behind them. Called after
    // each dispatch: sends those whose value a block has brought, built on
    // it; drops, saying so once per connection, those that waited kDataWait.
    void serveWaitingTurns();
    std::size_t waitingTurns() const { return waiting_count_; }

    // Says on standard error which call the simulator rejected and why,
    // e.g. AddToDataDefinition("NAV OBS:1", "degrees"): NAME_UNRECOGNIZED;
    // each call and exception once per connection, the repeats counted. A
    // call other than the set-up's is said with --verbose only, by its send
    // ID. MSFS's rejection of TOGGLE_GPS_DRIVES_NAV2 is said once per run,
    // as what it means for the panel.
    void reportException(const SIMCONNECT_RECV_EXCEPTION& exception);
    // At the end of a connection: how many rejections were not said again.
    void sayRepeatedExceptions();

private:
    // The values set here that the simulator has not shown yet, oldest
    // first, with when each was set. The simulator applies them in order, so
    // its blocks walk through them; a value can recur (a knob turned once
    // round the NAV band comes back to the same frequency), so a block counts
    // as showing the latest only once it has walked through all of them.
    // The hold-off runs from the oldest of them, not the newest: a simulator
    // that clamps or rejects a value never shows it, and a knob that keeps
    // turning must not keep the simulator's value out for ever.
    struct LocalHold {
        static constexpr std::size_t kCapacity = 64;
        std::array<double, kCapacity> unseen{};
        std::array<SimClock::time_point, kCapacity> set_at{};
        std::size_t count = 0;
        // What the simulator showed in its previous block: a block that
        // shows the same again is no news of progress, even if a value set
        // here happens to equal it.
        double previous = 0.0;
        bool seen = false;
    };

    // One call of setupConnection, by the send ID it went out with, so that
    // an exception record (which names only that ID) can be traced to it.
    struct SetupCall {
        enum class Kind : std::uint8_t { Map, Define, Request };
        DWORD send_id = 0;
        Kind kind = Kind::Map;
        std::uint8_t index = 0;  // event ID, definition row or request ID
    };
    static constexpr std::size_t kSetupCallCount = 91 + 16 + 2;

    // A knob turn (or a NAV swap, which acts on the standby it exchanges)
    // waiting for the simulator's value of `member`.
    struct WaitingTurn {
        HeldMember member = HeldMember::Count;
        bool swap = false;
        std::int8_t outer = 0;
        std::int8_t inner = 0;
        SimClock::time_point since{};
    };

    void recordSetupCall(SetupCall::Kind kind, std::size_t index, HRESULT result);
    bool knows(HeldMember member) const;
    bool isWaiting(HeldMember member) const;
    // True when the turn cannot go now and has been put in the queue (or
    // dropped, the queue being full): the operation then does nothing more.
    bool mustWait(HeldMember member, std::int8_t outer, std::int8_t inner, bool swap = false);
    void apply(const WaitingTurn& turn);
    // Once per connection; `full`: the queue was, else a turn waited in vain.
    void sayTurnsDropped(bool full);
    // After a swap: the standby is the former active frequency, which the
    // program never saw; what it held against the simulator no longer applies.
    void forgetStandby(HeldMember member);
    void send(ClientEventId event, DWORD data);
    static void dropOldest(LocalHold& hold, std::size_t n);
    // Records that `member` was just set to `value` here.
    void holdLocal(HeldMember member, double value);
    // What the cache keeps when the simulator reports `reported` for a
    // member whose cached value is `local`.
    double acceptReported(HeldMember member, double reported, double local, SimClock::time_point now);

    std::array<LocalHold, static_cast<std::size_t>(HeldMember::Count)> holds_{};
    std::array<SetupCall, kSetupCallCount> setup_calls_{};
    std::size_t setup_calls_made_ = 0;
    // A rejection said on this connection: the call (as a set-up call's kind
    // and index; kind Request+1 for any other call) and the exception.
    struct SaidException {
        std::uint8_t kind = 0;
        std::uint8_t index = 0;
        DWORD exception = 0;
    };
    // Room for every set-up call and a few exceptions to other calls.
    static constexpr std::size_t kMaxSaidExceptions = kSetupCallCount + 16;
    // True the first time `call` drew `exception` on this connection (and
    // there is room to remember it); otherwise counts it as unsaid.
    bool firstOf(std::uint8_t kind, std::uint8_t index, DWORD exception);

    std::array<SaidException, kMaxSaidExceptions> said_exceptions_{};
    std::size_t said_exception_count_ = 0;
    std::uint64_t unsaid_exceptions_ = 0;
    // Kept across connections: said once per run.
    bool said_nav2_gap_ = false;
    std::array<WaitingTurn, kMaxWaitingTurns> waiting_{};
    std::size_t waiting_count_ = 0;
    bool said_turns_dropped_ = false;
};

// The process's one instance; the panel driver reaches it through its
// simInterface pointer, and the dispatch handler writes into it.
extern FlightSimInterfaceMSFS msfsInterface;

// The dispatch handler for SimConnect_CallDispatch (context unused). Copies
// data blocks into msfsInterface, notes the simulator's QUIT record there, and
// has exceptions reported.
void CALLBACK onSimConnectMessage(SIMCONNECT_RECV* record, DWORD size, void* context);

// Radio arithmetic, exposed for tests.
double wrapFrequency(double frequency, double low, double high, std::int32_t outer, std::int32_t inner, double step);
std::uint32_t toBcd(std::int32_t value);

// Transponder code conversions between BCO16 and the code's value 0 to 4095.
std::int32_t bco16ToValue(std::uint32_t code);
std::uint32_t valueToBco16(std::int32_t value);

#endif
