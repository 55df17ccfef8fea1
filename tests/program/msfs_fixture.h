// An own FlightSimInterfaceMSFS wired to the recording SimConnect.
#ifndef TEST_MSFS_FIXTURE_H
#define TEST_MSFS_FIXTURE_H

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "doubles/recording_simconnect.h"
#include "simulator/flight_sim_interface_msfs.h"

struct Msfs : ::testing::Test {
    HANDLE handle = simconnect_double::kFakeHandle;
    FlightSimInterfaceMSFS sim;

    void SetUp() override {
        simconnect_double::reset();
        sim.connection = &handle;
    }

    // The transmitted events as (ID, data) pairs, after checking that each
    // went to the user aircraft at the highest priority on our connection.
    std::vector<std::pair<DWORD, DWORD>> sent() const {
        std::vector<std::pair<DWORD, DWORD>> events;
        for (const simconnect_double::Event& e : simconnect_double::recorder().events) {
            EXPECT_EQ(e.connection, simconnect_double::kFakeHandle);
            EXPECT_EQ(e.object, 0U);
            EXPECT_EQ(e.group, 1U);
            EXPECT_EQ(e.flags, 0x10U);
            events.emplace_back(e.event, e.data);
        }
        return events;
    }
    void clearSent() { simconnect_double::recorder().events.clear(); }
};

using Sent = std::vector<std::pair<DWORD, DWORD>>;

#endif
