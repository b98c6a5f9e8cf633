// Tests of automation values: conversions, by-reference cells, object references.
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "platform/dispatch_table.h"

namespace {

using platform::hresult;
using platform::kDispEOverflow;
using platform::kDispETypeMismatch;
using platform::kSOk;
using platform::Variant;
using platform::variant_type;

// An object that tells when it is destroyed.
class probe final : public platform::dispatch_object<probe> {
 public:
  explicit probe(bool& destroyed) : destroyed_(destroyed) {}
  ~probe() override { destroyed_ = true; }
  static std::span<const platform::dispatch_member<probe>> dispatch_members() { return {}; }

 private:
  bool& destroyed_;
};

std::int32_t g_long_cell = 41;
std::string g_string_cell = "  17 ";

TEST(VariantTest, ConvertsToLongAsAutomationDoes) {
  struct row {
    const char* what;
    Variant input;
    hresult hr;
    std::int32_t value;
  };
  const row rows[] = {
      {"empty reads as 0", Variant(), kSOk, 0},
      {"long", Variant(-7), kSOk, -7},
      {"true is -1", Variant(true), kSOk, -1},
      {"false is 0", Variant(false), kSOk, 0},
      {"double rounds half to even (down)", Variant(2.5), kSOk, 2},
      {"double rounds half to even (up)", Variant(3.5), kSOk, 4},
      {"negative half", Variant(-2.5), kSOk, -2},
      {"largest long from double", Variant(2147483647.4), kSOk, 2147483647},
      {"smallest long from double", Variant(-2147483648.0), kSOk, std::numeric_limits<std::int32_t>::min()},
      {"double past 32 bits", Variant(2147483648.0), kDispEOverflow, 0},
      {"not a number", Variant(std::nan("")), kDispEOverflow, 0},
      {"numeric text with blanks", Variant(" 42 "), kSOk, 42},
      {"signed text", Variant("-17"), kSOk, -17},
      {"plus sign", Variant("+8"), kSOk, 8},
      {"decimal text rounds", Variant("1.5"), kSOk, 2},
      {"text too large", Variant("99999999999"), kDispEOverflow, 0},
      {"empty text", Variant(""), kDispETypeMismatch, 0},
      {"letters", Variant("abc"), kDispETypeMismatch, 0},
      {"trailing junk", Variant("12abc"), kDispETypeMismatch, 0},
      {"bytes", Variant(std::vector<std::uint8_t>{1, 2}), kDispETypeMismatch, 0},
      {"null object", Variant(platform::com_ptr<platform::dispatch>()), kDispETypeMismatch, 0},
      {"long cell is read", Variant::ref(g_long_cell), kSOk, 41},
      {"string cell is read and parsed", Variant::ref(g_string_cell), kSOk, 17},
  };
  for (const row& r : rows) {
    std::int32_t out = 12345;
    EXPECT_EQ(r.input.as_long(out), r.hr) << r.what;
    EXPECT_EQ(out, r.hr == kSOk ? r.value : 12345) << r.what;
  }
}

TEST(VariantTest, ConvertsToString) {
  std::int32_t cell = -3;
  struct row {
    const char* what;
    Variant input;
    hresult hr;
    std::string value;
  };
  const row rows[] = {
      {"empty", Variant(), kSOk, ""},
      {"long", Variant(-5), kSOk, "-5"},
      {"true", Variant(true), kSOk, "True"},
      {"false", Variant(false), kSOk, "False"},
      {"fraction", Variant(0.1), kSOk, "0.1"},
      {"whole double", Variant(2.0), kSOk, "2"},
      {"bytes with NUL survive", Variant(std::string("a\0b\xFF", 4)), kSOk, std::string("a\0b\xFF", 4)},
      {"long cell", Variant::ref(cell), kSOk, "-3"},
      {"bytes", Variant(std::vector<std::uint8_t>{65}), kDispETypeMismatch, "unchanged"},
      {"object", Variant(platform::com_ptr<platform::dispatch>()), kDispETypeMismatch, "unchanged"},
  };
  for (const row& r : rows) {
    std::string out = "unchanged";
    EXPECT_EQ(r.input.as_string(out), r.hr) << r.what;
    EXPECT_EQ(out, r.value) << r.what;
  }
}

TEST(VariantTest, ConvertsToBoolAndDouble) {
  struct bool_row {
    Variant input;
    hresult hr;
    bool value;
  };
  const bool_row bools[] = {
      {Variant(), kSOk, false},         {Variant(0), kSOk, false},     {Variant(2), kSOk, true},
      {Variant(0.0), kSOk, false},      {Variant("TRUE"), kSOk, true}, {Variant(" false"), kSOk, false},
      {Variant("-1"), kSOk, true},      {Variant("0"), kSOk, false},   {Variant("yes"), kDispETypeMismatch, false},
  };
  for (const bool_row& r : bools) {
    bool out = false;
    EXPECT_EQ(r.input.as_bool(out), r.hr) << r.input.debug_string();
    if (r.hr == kSOk) {
      EXPECT_EQ(out, r.value) << r.input.debug_string();
    }
  }
  double d = 0;
  EXPECT_EQ(Variant("1.25").as_double(d), kSOk);
  EXPECT_EQ(d, 1.25);
  EXPECT_EQ(Variant(true).as_double(d), kSOk);
  EXPECT_EQ(d, -1.0);
  EXPECT_EQ(Variant("x").as_double(d), kDispETypeMismatch);
  EXPECT_EQ(d, -1.0);
}

TEST(VariantTest, IntegersOfAnyWidthBecomeLongs) {
  EXPECT_EQ(Variant(7L).type(), variant_type::long_value);
  EXPECT_EQ(Variant(std::uint8_t{200}).long_or(), 200);
  EXPECT_EQ(Variant(static_cast<short>(-2)).long_or(), -2);
  EXPECT_EQ(Variant(true).type(), variant_type::bool_value);
  EXPECT_EQ(Variant("x").type(), variant_type::string);
}

TEST(VariantTest, CellsReferToTheCallersVariable) {
  std::int32_t number = 1;
  std::string text = "a";
  std::vector<std::uint8_t> bytes = {1, 2, 3};
  const Variant n = Variant::ref(number);
  const Variant t = Variant::ref(text);
  const Variant b = Variant::ref(bytes);
  EXPECT_TRUE(n.is_ref());
  EXPECT_EQ(n.cell<std::int32_t>(), &number);
  EXPECT_EQ(n.cell<std::string>(), nullptr);
  EXPECT_EQ(Variant(5).cell<std::int32_t>(), nullptr);

  // Reads see the variable as it is now; writes convert to the cell's type.
  number = 5;
  EXPECT_EQ(n.long_or(), 5);
  EXPECT_EQ(n.deref(), Variant(5));
  EXPECT_EQ(n.write_ref(Variant("15")), kSOk);
  EXPECT_EQ(number, 15);
  EXPECT_EQ(n.write_ref(Variant("x")), kDispETypeMismatch);
  EXPECT_EQ(number, 15);
  EXPECT_EQ(t.write_ref(Variant(-9)), kSOk);
  EXPECT_EQ(text, "-9");
  EXPECT_EQ(b.write_ref(Variant(std::vector<std::uint8_t>{9})), kSOk);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>{9});
  EXPECT_EQ(b.write_ref(Variant(9)), kDispETypeMismatch);
  EXPECT_EQ(Variant(3).write_ref(Variant(4)), kDispETypeMismatch);

  // A copy of a cell still refers to the same variable.
  const Variant copy = t;
  text = "changed";
  EXPECT_EQ(copy.string_or(), "changed");
}

TEST(VariantTest, ObjectValuesHoldAReference) {
  bool destroyed = false;
  {
    Variant outer;
    {
      auto object = platform::make_object<probe>(destroyed);
      Variant held(object);
      outer = held;
    }
    EXPECT_FALSE(destroyed) << "a Variant copy keeps the object alive";
    platform::com_ptr<platform::dispatch> back;
    EXPECT_EQ(outer.as_object(back), kSOk);
    EXPECT_TRUE(back);
  }
  EXPECT_TRUE(destroyed);
}

TEST(VariantTest, EqualityComparesKindAndValue) {
  EXPECT_EQ(Variant(5), Variant(5));
  EXPECT_NE(Variant(5), Variant(5.0));
  EXPECT_NE(Variant(5), Variant("5"));
  EXPECT_NE(Variant(std::string("a\0b", 3)), Variant(std::string("a\0c", 3)));
  EXPECT_EQ(Variant(), Variant());
}

TEST(VariantTest, DebugStringShowsUnprintableBytes) {
  EXPECT_EQ(Variant(std::string("a\0\"", 3)).debug_string(), "string \"a\\x00\\x22\"");
  EXPECT_EQ(Variant(std::vector<std::uint8_t>{0x1B, 0x40}).debug_string(), "bytes [1B 40]");
  EXPECT_EQ(Variant(-4).debug_string(), "long -4");
}

}  // namespace
