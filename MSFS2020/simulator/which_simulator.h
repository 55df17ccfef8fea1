// Which simulator answered the connection, from its OPEN record.
#ifndef SIMULATOR_WHICH_SIMULATOR_H
#define SIMULATOR_WHICH_SIMULATOR_H

#include <string>

#include "simconnect/simconnect_api.h"

// What a person reads about the simulator: "Microsoft Flight Simulator 2024
// (SunRise 12.1, SimConnect 12.1)". MSFS 2020 calls itself KittyHawk with
// version 11, MSFS 2024 SunRise with 12; any other name is shown as given,
// escaped, and called unknown.
std::string describeSimulator(const SIMCONNECT_RECV_OPEN& open);

// Says on standard error which simulator answered, from the OPEN record the
// dispatch handler got (`size` bytes delivered): once per connection, as
// the simulator sends one OPEN record per connection.
void sayWhichSimulator(const SIMCONNECT_RECV* record, DWORD size);

#endif
