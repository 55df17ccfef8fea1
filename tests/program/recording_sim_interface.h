// A FlightSimInterface that writes down each call as text, e.g.
// "tuneNav(2,0,-1)" or "pressKey(22)", so that a test compares whole call
// sequences and a mismatch reads plainly.
#ifndef TEST_RECORDING_SIM_INTERFACE_H
#define TEST_RECORDING_SIM_INTERFACE_H

#include <string>
#include <vector>

#include "simulator/flight_sim_interface.h"

class RecordingSimInterface final : public FlightSimInterface {
public:
    std::vector<std::string> calls;
    std::uint8_t leds = 0;

    int setupConnection() override { return record("setupConnection()"); }
    int tuneCom(std::uint8_t s, std::int8_t o, std::int8_t i) override { return knob("tuneCom", s, o, i); }
    int tuneNav(std::uint8_t s, std::int8_t o, std::int8_t i) override { return knob("tuneNav", s, o, i); }
    int adjustHeadingBug(std::uint8_t s, std::int8_t o, std::int8_t i) override {
        return knob("adjustHeadingBug", s, o, i);
    }
    int adjustCourse(std::uint8_t s, std::int8_t o, std::int8_t i) override { return knob("adjustCourse", s, o, i); }
    int turnFmsKnobs(std::uint8_t s, std::int8_t o, std::int8_t i) override { return knob("turnFmsKnobs", s, o, i); }
    int adjustAltitudeAndVerticalSpeed(std::uint8_t s, std::int8_t o, std::int8_t i) override {
        return knob("adjustAltitudeAndVerticalSpeed", s, o, i);
    }
    int adjustTransponder(std::uint8_t s, std::int8_t o, std::int8_t i) override {
        return knob("adjustTransponder", s, o, i);
    }
    int adjustBarometer(std::uint8_t s, std::int8_t o, std::int8_t i) override {
        return knob("adjustBarometer", s, o, i);
    }
    int pressKey(KeyCommand command) override { return record("pressKey(" + std::to_string(command) + ")"); }
    std::uint8_t getLedState() override { return leds; }

    static std::string knobCall(const std::string& name, int selector, int outer, int inner) {
        return name + "(" + std::to_string(selector) + "," + std::to_string(outer) + "," + std::to_string(inner) + ")";
    }

private:
    int record(std::string call) {
        calls.push_back(std::move(call));
        return 0;
    }
    int knob(const char* name, std::uint8_t s, std::int8_t o, std::int8_t i) { return record(knobCall(name, s, o, i)); }
};

#endif
