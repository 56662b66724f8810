#include "command_line.h"

#include <gtest/gtest.h>

#include <limits>

namespace launcher {
namespace {

TEST(CommandLineTest, ParseDisplayNumber) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> want;
  } cases[] = {
      {"0", 0},
      {"7", 7},
      {"+7", 7},
      {"007", 7},
      {"1000", 1000},
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"+018446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", std::nullopt},  // one past the top
      {"99999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"-1", std::nullopt},
      {"++1", std::nullopt},
      {"abc", std::nullopt},
      {"1.0", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"0x10", std::nullopt},
      {":1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_display_number(c.text), c.want) << "text '" << c.text << "'";
  }
}

TEST(CommandLineTest, Utf8) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii"));
  EXPECT_TRUE(is_valid_utf8("gr\xC3\xBC\xC3\x9F"));              // two-byte forms
  EXPECT_TRUE(is_valid_utf8("\xE2\x82\xAC"));                    // euro sign
  EXPECT_TRUE(is_valid_utf8("\xF0\x9F\x98\x80"));                // four bytes
  EXPECT_TRUE(is_valid_utf8("\xF4\x8F\xBF\xBF"));                // U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xFF"));
  EXPECT_FALSE(is_valid_utf8("\x80"));                           // lone continuation
  EXPECT_FALSE(is_valid_utf8("\xC3"));                           // truncated
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));                       // truncated
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));                       // overlong "/"
  EXPECT_FALSE(is_valid_utf8("\xE0\x80\xAF"));                   // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));                   // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));               // above U+10FFFF
  EXPECT_FALSE(is_valid_utf8(std::string_view("a\xC3(b", 4)));  // bad continuation
}

TEST(CommandLineTest, Targets) {
  {
    const CommandLine line = read_command_line({"ghostdpy"});
    EXPECT_TRUE(std::holds_alternative<AutoDisplay>(line.target));
    EXPECT_TRUE(line.run_args.empty());
  }
  {
    const CommandLine line = read_command_line({});  // no argument 0 at all
    EXPECT_TRUE(std::holds_alternative<AutoDisplay>(line.target));
    EXPECT_TRUE(line.run_args.empty());
  }
  {
    // No colon in argument 1: it is already the program.
    const CommandLine line = read_command_line({"ghostdpy", "xterm", "-e", "a:b"});
    EXPECT_TRUE(std::holds_alternative<AutoDisplay>(line.target));
    EXPECT_EQ(line.run_args, (std::vector<std::string>{"xterm", "-e", "a:b"}));
  }
  {
    const CommandLine line = read_command_line({"ghostdpy", ":007", "prog", ":5"});
    ASSERT_TRUE(std::holds_alternative<FixedDisplay>(line.target));
    EXPECT_EQ(std::get<FixedDisplay>(line.target).number, 7u);
    EXPECT_EQ(line.run_args, (std::vector<std::string>{"prog", ":5"}));
  }
  {
    const CommandLine line = read_command_line({"ghostdpy", "*:6000"});
    ASSERT_TRUE(std::holds_alternative<TcpAddress>(line.target));
    EXPECT_EQ(std::get<TcpAddress>(line.target).bind_address, "0.0.0.0:6000");
  }
  {
    // Every asterisk, anywhere; nothing else is looked at here.
    const CommandLine line = read_command_line({"ghostdpy", "a*b*:x", "p q"});
    ASSERT_TRUE(std::holds_alternative<TcpAddress>(line.target));
    EXPECT_EQ(std::get<TcpAddress>(line.target).bind_address, "a0.0.0.0b0.0.0.0:x");
    EXPECT_EQ(line.run_args, (std::vector<std::string>{"p q"}));
  }
  {
    const CommandLine line = read_command_line({"ghostdpy", "dir/prog:x"});
    ASSERT_TRUE(std::holds_alternative<TcpAddress>(line.target));
    EXPECT_EQ(std::get<TcpAddress>(line.target).bind_address, "dir/prog:x");
    EXPECT_TRUE(line.run_args.empty());
  }
}

}  // namespace
}  // namespace launcher
