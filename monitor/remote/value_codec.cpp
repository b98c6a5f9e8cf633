// Variant <-> protobuf Value.
#include "value_codec.h"

#include <string>
#include <vector>

namespace monitor::remote {

using platform::Variant;
using platform::variant_type;

platform::hresult encode_value(const Variant& value, quorel::remote::Value& out, const object_to_handle& to_handle) {
  out.Clear();
  out.set_by_ref(value.is_ref());
  const Variant plain = value.deref();
  switch (plain.type()) {
    case variant_type::empty:
      out.set_empty(true);
      return platform::kSOk;
    case variant_type::long_value:
      out.set_long_value(plain.long_or());
      return platform::kSOk;
    case variant_type::bool_value:
      out.set_bool_value(plain.bool_or());
      return platform::kSOk;
    case variant_type::double_value: {
      double d = 0;
      plain.as_double(d);
      out.set_double_value(d);
      return platform::kSOk;
    }
    case variant_type::string: {
      std::string text;
      plain.as_string(text);
      out.set_string_value(std::move(text));
      return platform::kSOk;
    }
    case variant_type::bytes: {
      std::vector<std::uint8_t> bytes;
      plain.as_bytes(bytes);
      out.set_byte_array(std::string(bytes.begin(), bytes.end()));
      return platform::kSOk;
    }
    case variant_type::object: {
      platform::com_ptr<platform::dispatch> object;
      plain.as_object(object);
      std::uint64_t handle = 0;
      if (object) {
        const platform::hresult hr = to_handle(object, handle);
        if (platform::failed(hr)) return hr;
      }
      out.set_object_handle(handle);
      return platform::kSOk;
    }
    default:
      return platform::kDispETypeMismatch;
  }
}

platform::hresult decode_value(const quorel::remote::Value& value, Variant& out, const handle_to_object& to_object) {
  using kind = quorel::remote::Value::KindCase;
  switch (value.kind_case()) {
    case kind::KIND_NOT_SET:
    case kind::kEmpty:
      out = Variant();
      return platform::kSOk;
    case kind::kLongValue:
      out = Variant(static_cast<std::int32_t>(value.long_value()));
      return platform::kSOk;
    case kind::kBoolValue:
      out = Variant(value.bool_value());
      return platform::kSOk;
    case kind::kDoubleValue:
      out = Variant(value.double_value());
      return platform::kSOk;
    case kind::kStringValue:
      out = Variant(value.string_value());
      return platform::kSOk;
    case kind::kByteArray: {
      const std::string& raw = value.byte_array();
      out = Variant(std::vector<std::uint8_t>(raw.begin(), raw.end()));
      return platform::kSOk;
    }
    case kind::kObjectHandle: {
      platform::com_ptr<platform::dispatch> object;
      if (value.object_handle() != 0) {
        const platform::hresult hr = to_object(value.object_handle(), object);
        if (platform::failed(hr)) return hr;
      }
      out = Variant(std::move(object));
      return platform::kSOk;
    }
  }
  return platform::kDispETypeMismatch;
}

}  // namespace monitor::remote
