#include "setup_reply.h"

#include <string_view>

#include "wire.h"

namespace x11 {
namespace {

// Appends fields one after another in the client's byte order.
struct FieldWriter {
  SetupReply& out;
  bool lsb_first;
  std::size_t pos = 0;

  constexpr void u8(std::uint8_t v) { out[pos++] = v; }
  constexpr void u16(std::uint16_t v) {
    write_u16(&out[pos], v, lsb_first);
    pos += 2;
  }
  constexpr void u32(std::uint32_t v) {
    write_u32(&out[pos], v, lsb_first);
    pos += 4;
  }
  constexpr void text(std::string_view s) {
    for (char c : s) u8(static_cast<std::uint8_t>(c));
  }
  constexpr void zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) u8(0);
  }
};

constexpr std::string_view kVendor = "The X.Org Foundation";

struct PixmapFormat {
  std::uint8_t depth, bits_per_pixel, scanline_pad;
};
constexpr PixmapFormat kPixmapFormats[] = {
    {1, 1, 32}, {4, 8, 32}, {8, 8, 32}, {16, 16, 32}, {24, 32, 32}, {32, 32, 32}};

constexpr std::uint8_t kTrueColor = 4;
constexpr std::uint8_t kDirectColor = 5;

// Consecutive visual ids of one class.
struct VisualRun {
  std::uint32_t first_id, count;
  std::uint8_t visual_class;
};

struct Depth {
  std::uint8_t depth;
  const VisualRun* runs;
  std::size_t run_count;
};

constexpr VisualRun kDepth24Visuals[] = {
    {0x21, 1, kTrueColor}, {0x22, 1, kDirectColor}, {0x389, 179, kTrueColor}, {0x43C, 179, kDirectColor}};
constexpr VisualRun kDepth32Visuals[] = {{0x40, 1, kTrueColor}, {0x4EF, 29, kTrueColor}};

constexpr Depth kDepths[] = {
    {24, kDepth24Visuals, std::size(kDepth24Visuals)},
    {1, nullptr, 0},
    {4, nullptr, 0},
    {8, nullptr, 0},
    {16, nullptr, 0},
    {32, kDepth32Visuals, std::size(kDepth32Visuals)},
};

constexpr void write_visual(FieldWriter& w, std::uint32_t id, std::uint8_t visual_class) {
  w.u32(id);
  w.u8(visual_class);
  w.u8(8);       // bits-per-rgb-value
  w.u16(256);    // colormap-entries
  w.u32(0x00FF0000);  // red-mask
  w.u32(0x0000FF00);  // green-mask
  w.u32(0x000000FF);  // blue-mask
  w.zeros(4);
}

constexpr void write_depth(FieldWriter& w, const Depth& d) {
  std::uint16_t visuals = 0;
  for (std::size_t i = 0; i < d.run_count; ++i) visuals = static_cast<std::uint16_t>(visuals + d.runs[i].count);
  w.u8(d.depth);
  w.u8(0);
  w.u16(visuals);
  w.zeros(4);
  for (std::size_t i = 0; i < d.run_count; ++i)
    for (std::uint32_t k = 0; k < d.runs[i].count; ++k) write_visual(w, d.runs[i].first_id + k, d.runs[i].visual_class);
}

constexpr SetupReply build_setup_reply(bool lsb_first) {
  SetupReply reply{};
  FieldWriter w{reply, lsb_first, 0};
  w.u8(1);  // Success
  w.u8(0);
  w.u16(11);  // protocol-major-version
  w.u16(0);   // protocol-minor-version
  w.u16(static_cast<std::uint16_t>((kSetupReplySize - 8) / 4));  // additional data, 4-byte units
  w.u32(12101004);    // release-number
  w.u32(0x00200000);  // resource-id-base
  w.u32(0x001FFFFF);  // resource-id-mask
  w.u32(256);         // motion-buffer-size
  w.u16(static_cast<std::uint16_t>(kVendor.size()));
  w.u16(65535);  // maximum-request-length
  w.u8(1);       // screens
  w.u8(static_cast<std::uint8_t>(std::size(kPixmapFormats)));
  w.u8(0);    // image-byte-order: LSBFirst, whatever the client's order
  w.u8(0);    // bitmap-format-bit-order: LeastSignificant
  w.u8(32);   // bitmap-format-scanline-unit
  w.u8(32);   // bitmap-format-scanline-pad
  w.u8(8);    // min-keycode
  w.u8(255);  // max-keycode
  w.zeros(4);
  w.text(kVendor);
  w.zeros(pad4(kVendor.size()));
  for (const PixmapFormat& f : kPixmapFormats) {
    w.u8(f.depth);
    w.u8(f.bits_per_pixel);
    w.u8(f.scanline_pad);
    w.zeros(5);
  }
  // The screen.
  w.u32(0x0000050D);  // root
  w.u32(0x00000020);  // default-colormap
  w.u32(0x00FFFFFF);  // white-pixel
  w.u32(0x00000000);  // black-pixel
  w.u32(0);           // current-input-masks
  w.u16(1280);        // width-in-pixels
  w.u16(1024);        // height-in-pixels
  w.u16(325);         // width-in-millimeters
  w.u16(260);         // height-in-millimeters
  w.u16(1);           // min-installed-maps
  w.u16(1);           // max-installed-maps
  w.u32(0x00000021);  // root-visual
  w.u8(1);            // backing-stores: WhenMapped
  w.u8(0);            // save-unders
  w.u8(24);           // root-depth
  w.u8(static_cast<std::uint8_t>(std::size(kDepths)));
  for (const Depth& d : kDepths) write_depth(w, d);
  // An out-of-range write above, or a short description, fails compilation.
  if (w.pos != kSetupReplySize) throw "setup reply description does not fill the reply";
  return reply;
}

constexpr SetupReply kLsbFirst = build_setup_reply(true);
constexpr SetupReply kMsbFirst = build_setup_reply(false);

}  // namespace

const SetupReply& setup_reply(bool lsb_first) { return lsb_first ? kLsbFirst : kMsbFirst; }

}  // namespace x11
