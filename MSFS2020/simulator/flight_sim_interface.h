// The seam between the panel driver and the simulator.
#ifndef MSFS_PANEL_FLIGHT_SIM_INTERFACE_H
#define MSFS_PANEL_FLIGHT_SIM_INTERFACE_H

#include <cstdint>

// One key action, 0 to 32 (see the key table of the avionics keys). Kept a
// plain unsigned number because the panel side may hand over any value and
// pressKey must drop those above 32 itself.
using KeyCommand = std::uint32_t;

namespace key {
// Keys of unit 1 (AS530 + AS1000 PFD); unit 2 (AS430 + MFD) is the same plus 11.
inline constexpr KeyCommand Unit1KnobPush = 0;
inline constexpr KeyCommand Unit1DirectTo = 1;  // then MENU, CLR, ENT: 2 to 4
inline constexpr KeyCommand Unit1Cdi = 5;       // then OBS, MSG, FPL, VNAV, PROC: 6 to 10
inline constexpr KeyCommand Unit2Offset = 11;
inline constexpr KeyCommand ApMaster = 22;  // then HDG, NAV, APR, ALT, VS holds: 23 to 27
inline constexpr KeyCommand Com1Swap = 28;
inline constexpr KeyCommand Com2Swap = 29;
inline constexpr KeyCommand Nav1Swap = 30;
inline constexpr KeyCommand Nav2Swap = 31;
inline constexpr KeyCommand BaroStd = 32;
inline constexpr KeyCommand Last = 32;
}  // namespace key

// Everything the panel driver can ask of the simulator. The order of the
// virtual operations is fixed (it is the slot order of the table), and there
// is deliberately no virtual destructor: instances live for the whole process
// and are never deleted through this type, hence the protected destructor.
//
// Knob operations take a selector (1 or 2: which radio, course, unit or
// function) and the two detent counts of one report, outer first, positive
// clockwise. Every operation but getLedState returns 0, which nobody reads.
class FlightSimInterface {
public:
    virtual int setupConnection() = 0;
    virtual int tuneCom(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int tuneNav(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int adjustHeadingBug(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int adjustCourse(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int turnFmsKnobs(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int adjustAltitudeAndVerticalSpeed(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int adjustTransponder(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int adjustBarometer(std::uint8_t selector, std::int8_t outer, std::int8_t inner) = 0;
    virtual int pressKey(KeyCommand command) = 0;
    // Bit 0 AP master, 1 heading, 2 NAV1, 3 approach, 4 altitude, 5 vertical speed.
    virtual std::uint8_t getLedState() = 0;

protected:
    constexpr FlightSimInterface() = default;
    FlightSimInterface(const FlightSimInterface&) = default;
    FlightSimInterface& operator=(const FlightSimInterface&) = default;
    ~FlightSimInterface() = default;
};

// Pointer to one of the knob operations, so that a mode table can name them.
using KnobOperation = int (FlightSimInterface::*)(std::uint8_t, std::int8_t, std::int8_t);

#endif
