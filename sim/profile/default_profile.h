// The built-in default notebook: the typical production-line machine, as profile text.
#pragma once

namespace sim {

extern const char* const kDefaultProfileJson;

}  // namespace sim
