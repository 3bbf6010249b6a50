#pragma once

#include <cstdint>

namespace lumaro {

// Every operation of the player answers 0 for success and a nonzero value that marks the site
// of the failure. Callers act only on zero versus nonzero; each file numbers its own sites.
using Result = std::uint32_t;

inline constexpr Result kOk = 0;

}  // namespace lumaro
