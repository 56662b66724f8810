// Endian-neutral wire fields.
//
// An X11 client announces its own byte order in the first byte of its
// connection setup, and the server writes every multi-byte field in that
// order. These helpers are the only place where wire integers are assembled
// or taken apart: each takes the byte-order flag (true = least significant
// byte first) and works byte by byte, so no host-order integer is ever copied
// onto the wire.
#pragma once

#include <cstddef>
#include <cstdint>

namespace x11 {

/// Number of padding bytes that bring n up to a multiple of 4.
constexpr std::size_t pad4(std::size_t n) { return (4 - n % 4) % 4; }

// REQUIRES: p points at 2 (resp. 4) readable bytes.
constexpr std::uint16_t read_u16(const std::uint8_t* p, bool lsb_first) {
  return lsb_first ? static_cast<std::uint16_t>(p[0] | p[1] << 8)
                   : static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

constexpr std::uint32_t read_u32(const std::uint8_t* p, bool lsb_first) {
  return lsb_first
             ? std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                   std::uint32_t{p[3]} << 24
             : std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
                   std::uint32_t{p[3]};
}

// REQUIRES: p points at 2 (resp. 4) writable bytes.
constexpr void write_u16(std::uint8_t* p, std::uint16_t v, bool lsb_first) {
  const auto lo = static_cast<std::uint8_t>(v);
  const auto hi = static_cast<std::uint8_t>(v >> 8);
  p[0] = lsb_first ? lo : hi;
  p[1] = lsb_first ? hi : lo;
}

constexpr void write_u32(std::uint8_t* p, std::uint32_t v, bool lsb_first) {
  for (int i = 0; i < 4; ++i) {
    const int shift = lsb_first ? 8 * i : 8 * (3 - i);
    p[i] = static_cast<std::uint8_t>(v >> shift);
  }
}

}  // namespace x11
