// The text helpers of device URIs: numbers in their bounds and forms, and option item lists.
#include <gtest/gtest.h>

#include "monitor/uri_text.h"

namespace monitor::uri_text {
namespace {

TEST(UriTextTest, NumbersWithinBoundsInTheirForm) {
  struct number_case {
    const char* what;
    std::string_view text;
    int low, high;
    number_form form;
    std::optional<int> expected;
  };
  const number_case cases[] = {
      {"decimal", "9100", 1, 65535, number_form::decimal, 9100},
      {"both bounds are inside", "1", 1, 1, number_form::decimal, 1},
      {"below the range", "0", 1, 65535, number_form::decimal, std::nullopt},
      {"above the range", "65536", 1, 65535, number_form::decimal, std::nullopt},
      {"beyond int", "99999999999", 0, 1 << 30, number_form::decimal, std::nullopt},
      {"empty", "", 0, 10, number_form::decimal, std::nullopt},
      {"trailing text", "12ab", 0, 100, number_form::decimal, std::nullopt},
      {"leading blank", " 12", 0, 100, number_form::decimal, std::nullopt},
      {"hex is not decimal", "0x10", 0, 255, number_form::decimal, std::nullopt},
      {"hex when allowed", "0x1F", 0, 255, number_form::decimal_or_hex, 31},
      {"upper-case prefix", "0XfF", 0, 255, number_form::decimal_or_hex, 255},
      {"decimal when hex is allowed", "42", 0, 255, number_form::decimal_or_hex, 42},
      {"hex above the range", "0x100", 0, 255, number_form::decimal_or_hex, std::nullopt},
      {"prefix without digits", "0x", 0, 255, number_form::decimal_or_hex, std::nullopt},
  };
  for (const number_case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(parse_number(c.text, c.low, c.high, c.form), c.expected);
  }
}

TEST(UriTextTest, ItemsSkipEmptyOnes) {
  using items = std::vector<std::string_view>;
  EXPECT_EQ(split_items("baud=9600+bits=8&flow=hard", "+&"), (items{"baud=9600", "bits=8", "flow=hard"}));
  EXPECT_EQ(split_items("&&a++b&", "+&"), (items{"a", "b"}));
  EXPECT_EQ(split_items("paper_out,busy", ","), (items{"paper_out", "busy"}));
  EXPECT_EQ(split_items("one", ","), (items{"one"}));
  EXPECT_EQ(split_items("", "+&"), items{});
  EXPECT_EQ(split_items(",,", ","), items{});
}

}  // namespace
}  // namespace monitor::uri_text
