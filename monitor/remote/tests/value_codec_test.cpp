// Variants on the wire: every kind survives the trip, by-reference cells travel as their
// variable's value with a mark, and objects go through the session's handle maps.
#include "value_codec.h"

#include <gtest/gtest.h>

#include <climits>

#include "platform/dispatch_table.h"

namespace {

using monitor::remote::decode_value;
using monitor::remote::encode_value;
using platform::Variant;

// A small object to send as a handle.
class thing final : public platform::dispatch_object<thing> {
 public:
  static std::span<const platform::dispatch_member<thing>> dispatch_members() { return {}; }
};

const monitor::remote::object_to_handle kNoObjects = [](const platform::com_ptr<platform::dispatch>&, std::uint64_t&) {
  return platform::kDispETypeMismatch;
};
const monitor::remote::handle_to_object kNoHandles = [](std::uint64_t, platform::com_ptr<platform::dispatch>&) {
  return platform::kDispETypeMismatch;
};

TEST(ValueCodecTest, EveryValueKindComesBackEqual) {
  const Variant rows[] = {
      Variant(),
      Variant(0),
      Variant(INT32_MIN),
      Variant(INT32_MAX),
      Variant(true),
      Variant(false),
      Variant(-2.5),
      Variant(std::string("\x1D\x49\x01\x00\xFF text", 10)),
      Variant(std::string()),
      Variant(std::vector<std::uint8_t>{0, 1, 0x80, 0xFF}),
  };
  for (const Variant& v : rows) {
    SCOPED_TRACE(v.debug_string());
    quorel::remote::Value wire;
    ASSERT_EQ(encode_value(v, wire, kNoObjects), platform::kSOk);
    EXPECT_FALSE(wire.by_ref());
    Variant back(12345);
    ASSERT_EQ(decode_value(wire, back, kNoHandles), platform::kSOk);
    EXPECT_EQ(back, v);
  }
}

TEST(ValueCodecTest, ByReferenceCellsTravelAsTheirVariablesWithAMark) {
  std::int32_t number = -7;
  std::string text("a\0b", 3);
  std::vector<std::uint8_t> bytes{9, 8};
  const std::pair<Variant, Variant> rows[] = {
      {Variant::ref(number), Variant(-7)},
      {Variant::ref(text), Variant(std::string("a\0b", 3))},
      {Variant::ref(bytes), Variant(std::vector<std::uint8_t>{9, 8})},
  };
  for (const auto& [cell, value] : rows) {
    SCOPED_TRACE(value.debug_string());
    quorel::remote::Value wire;
    ASSERT_EQ(encode_value(cell, wire, kNoObjects), platform::kSOk);
    EXPECT_TRUE(wire.by_ref());
    Variant back;
    ASSERT_EQ(decode_value(wire, back, kNoHandles), platform::kSOk);
    EXPECT_EQ(back, value);
  }
}

TEST(ValueCodecTest, ObjectsTravelAsHandlesAndANullObjectAsZero) {
  const platform::com_ptr<platform::dispatch> object = platform::make_object<thing>();
  const monitor::remote::object_to_handle to_handle = [&](const platform::com_ptr<platform::dispatch>& o,
                                                          std::uint64_t& h) {
    EXPECT_EQ(o, object);
    h = 42;
    return platform::kSOk;
  };
  quorel::remote::Value wire;
  ASSERT_EQ(encode_value(Variant(object), wire, to_handle), platform::kSOk);
  EXPECT_EQ(wire.object_handle(), 42u);
  const monitor::remote::handle_to_object to_object = [&](std::uint64_t h, platform::com_ptr<platform::dispatch>& o) {
    if (h != 42) return platform::kDispETypeMismatch;
    o = object;
    return platform::kSOk;
  };
  Variant back;
  ASSERT_EQ(decode_value(wire, back, to_object), platform::kSOk);
  EXPECT_EQ(back, Variant(object));

  // A null object needs no handle map; an object without a handle fails the encoding.
  ASSERT_EQ(encode_value(Variant(platform::com_ptr<platform::dispatch>()), wire, kNoObjects), platform::kSOk);
  EXPECT_EQ(wire.object_handle(), 0u);
  ASSERT_EQ(decode_value(wire, back, kNoHandles), platform::kSOk);
  EXPECT_EQ(back, Variant(platform::com_ptr<platform::dispatch>()));
  EXPECT_EQ(encode_value(Variant(object), wire, kNoObjects), platform::kDispETypeMismatch);
  wire.set_object_handle(7);
  EXPECT_EQ(decode_value(wire, back, to_object), platform::kDispETypeMismatch);
}

}  // namespace
