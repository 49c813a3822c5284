#pragma once

#include <string>

namespace demo {

// A page kept wrong on purpose: each of its URLs holds one near-miss that makes a command
// silently do nothing, for `street-client check-page` to find.
std::string nearMissPage();

} // namespace demo
