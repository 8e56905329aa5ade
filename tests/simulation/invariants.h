// What must hold after every step of a simulated run.
#pragma once

#include <string>

namespace sim {

struct World;

// Null when everything holds; else the rule that broke, with *detail
// saying where.
const char* CheckInvariants(World& world, std::string* detail);

} // namespace sim
