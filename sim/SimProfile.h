// A simulated device made from a device profile: the identity of the `device` element, an
// address for every mapped coil, discrete input and register (packs included), and the values
// that the properties' `sim` keywords set in motion.
//
// The `sim` keyword of a property (a child element of its VALUE element, which the program
// itself ignores) reads:
//   sine LOW HIGH PERIOD          swings between LOW and HIGH, once per PERIOD seconds
//   ramp LOW HIGH PERIOD          climbs from LOW to HIGH in PERIOD seconds, then starts again
//   counter [STEP [EVERY [START]]] adds STEP (1) every EVERY (1) seconds from START (the start
//                                 value); a write sets where it counts on from
//   random LOW HIGH [EVERY]       a new value in LOW..HIGH every EVERY (1) seconds, from --seed
//   value V                       starts at V and stays until written
// Values are in the property's engineering units for fixed-point properties (raw = value ÷
// divisor) and raw counts for all others; a raw count must fit 32 bits (-2147483648 to
// 4294967295). Without a `sim` keyword a value starts at 0, or at the nearest end of the
// property's raw range when 0 lies outside it, and keeps what is written.
#pragma once

#include <string>
#include <vector>

#include "XMLParser/DeviceProfile.h"
#include "sim/SimDevice.h"

namespace sim {

// Reads the profile file `path` and picks the device named `deviceName` (compared without
// regard to case), or the first device when the name is empty. On failure `error` says why,
// with what the profile loader reported.
bool LoadSimProfile(const std::string& path, const std::string& deviceName, DeviceProfile& profile,
                    std::string& error);

// Builds the device: identification registers, every mapped address, packs, start values and
// animations. `warnings` collects what could not be done as the profile asks (a property on a
// register the device reserves, an unreadable `sim` keyword, ...).
void BuildSimDevice(const DeviceProfile& profile, CSimDevice& device, std::vector<std::string>& warnings);

// Reads a `sim` keyword for `property`. Animation, or just a start value (`hasStart`), or
// false with `error` for a text it cannot read.
bool ParseSimKeyword(const std::string& text, const ModbusProperty& property, SimAnimation& animation,
                     bool& animated, bool& hasStart, long long& start, std::string& error);

}  // namespace sim
