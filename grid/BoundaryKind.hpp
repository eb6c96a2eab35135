#pragma once

#include <cstdint>

namespace fendrix {

// Codes of the Boundary line, one per face (2 * axis + side). Any code other
// than a magnetic wall or an absorbing face leaves the face an electric wall.
namespace boundary_kind {
inline constexpr std::uint32_t kElectricWall = 0;
inline constexpr std::uint32_t kMagneticWall = 1;
inline constexpr std::uint32_t kAbsorbing = 2;
}  // namespace boundary_kind

}  // namespace fendrix
