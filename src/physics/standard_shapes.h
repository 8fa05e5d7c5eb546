// The fixed collision shapes every bike uses, and the digest that tells a race server's
// clients they all collide alike.
#pragma once

#include <array>
#include <optional>
#include <string>

namespace ks {

// In the order the digest reads them.
constexpr std::array<const char*, 7> kStandardShapeFiles = {
    "@generic_frame.shp",    "@generic_fork_upper.shp", "@generic_fork_lower.shp",
    "@generic_swingarm.shp", "@front_wheel.shp",        "@rear_wheel.shp",
    "@generic_rider.shp"};

// RIPEMD-160 of the seven shipped files read one after another, as 40 lowercase hex
// digits.
constexpr std::array<const char*, 1> kAcceptedShapeDigests = {
    "c54e9d35fc628b10766423089aaec9dca2c0f298"};

// The digest of the seven files as the file layer finds them; none when one can't be read.
std::optional<std::string> standard_shape_digest();

// True when the digest is one of the accepted ones.
bool is_accepted_shape_digest(const std::string& digest);

}  // namespace ks
