// The largest picture Planora takes in, whether a host hands it over or a
// photo file declares it: beyond this a damaged or hostile size would only
// make the program allocate gigabytes before anything could be refused.
#pragma once

#include <cstdint>

namespace planora {

inline constexpr std::int64_t MaxPicturePixels = 200'000'000;

}  // namespace planora
