// The fixed connection setup Success reply, in both byte orders.
//
// Every client gets the same description of the display: X11 protocol 11.0,
// release 12101004, resource ids from 0x00200000 under mask 0x001FFFFF, six
// pixmap formats, and one 1280 x 1024 screen (root window 0x50D, colormap
// 0x20, root visual 0x21, TrueColor, depth 24) whose six depths carry 390
// visuals: 360 at depth 24, 30 at depth 32. Both variants are 9,556 bytes
// and differ only in the byte order of their 2- and 4-byte numbers; they are
// built at compile time from one description and sent from constant storage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace x11 {

inline constexpr std::size_t kSetupReplySize = 9556;
using SetupReply = std::array<std::uint8_t, kSetupReplySize>;

/// The reply for a client that announced least (true) or most (false)
/// significant byte first.
const SetupReply& setup_reply(bool lsb_first);

}  // namespace x11
