// Automation values: conversions between the kinds a Variant holds, and by-reference cells.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/com.h"

namespace platform {
namespace {

constexpr std::string_view kTrueText = "True";
constexpr std::string_view kFalseText = "False";

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads a whole string as a number (surrounding blanks allowed); false when it is not one.
bool parse_number(std::string_view text, double& out) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  out = value;
  return true;
}

// Rounds half to even, as automation does, and checks the 32-bit range.
hresult double_to_long(double value, std::int32_t& out) {
  if (!std::isfinite(value)) return kDispEOverflow;
  const double rounded = std::nearbyint(value);
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return kDispEOverflow;
  }
  out = static_cast<std::int32_t>(rounded);
  return kSOk;
}

}  // namespace

std::string_view variant_type_name(variant_type type) {
  switch (type) {
    case variant_type::empty: return "empty";
    case variant_type::long_value: return "long";
    case variant_type::bool_value: return "bool";
    case variant_type::double_value: return "double";
    case variant_type::string: return "string";
    case variant_type::object: return "object";
    case variant_type::bytes: return "bytes";
    case variant_type::long_ref: return "long&";
    case variant_type::string_ref: return "string&";
    case variant_type::bytes_ref: return "bytes&";
  }
  return "?";
}

bool Variant::is_ref() const {
  const variant_type t = type();
  return t == variant_type::long_ref || t == variant_type::string_ref || t == variant_type::bytes_ref;
}

Variant Variant::deref() const {
  switch (type()) {
    case variant_type::long_ref: return Variant(*std::get<std::int32_t*>(value_));
    case variant_type::string_ref: return Variant(*std::get<std::string*>(value_));
    case variant_type::bytes_ref: return Variant(*std::get<std::vector<std::uint8_t>*>(value_));
    default: return *this;
  }
}

hresult Variant::as_long(std::int32_t& out) const {
  switch (type()) {
    case variant_type::empty: out = 0; return kSOk;
    case variant_type::long_value: out = std::get<std::int32_t>(value_); return kSOk;
    case variant_type::bool_value: out = std::get<bool>(value_) ? -1 : 0; return kSOk;
    case variant_type::double_value: return double_to_long(std::get<double>(value_), out);
    case variant_type::string: {
      double number = 0;
      if (!parse_number(std::get<std::string>(value_), number)) return kDispETypeMismatch;
      return double_to_long(number, out);
    }
    case variant_type::long_ref: out = *std::get<std::int32_t*>(value_); return kSOk;
    case variant_type::string_ref: return deref().as_long(out);
    default: return kDispETypeMismatch;
  }
}

hresult Variant::as_bool(bool& out) const {
  switch (type()) {
    case variant_type::empty: out = false; return kSOk;
    case variant_type::long_value: out = std::get<std::int32_t>(value_) != 0; return kSOk;
    case variant_type::bool_value: out = std::get<bool>(value_); return kSOk;
    case variant_type::double_value: out = std::get<double>(value_) != 0; return kSOk;
    case variant_type::string: {
      const std::string_view text = trim(std::get<std::string>(value_));
      if (equal_ignoring_case(text, kTrueText)) { out = true; return kSOk; }
      if (equal_ignoring_case(text, kFalseText)) { out = false; return kSOk; }
      double number = 0;
      if (!parse_number(text, number)) return kDispETypeMismatch;
      out = number != 0;
      return kSOk;
    }
    case variant_type::long_ref:
    case variant_type::string_ref: return deref().as_bool(out);
    default: return kDispETypeMismatch;
  }
}

hresult Variant::as_double(double& out) const {
  switch (type()) {
    case variant_type::empty: out = 0; return kSOk;
    case variant_type::long_value: out = std::get<std::int32_t>(value_); return kSOk;
    case variant_type::bool_value: out = std::get<bool>(value_) ? -1 : 0; return kSOk;
    case variant_type::double_value: out = std::get<double>(value_); return kSOk;
    case variant_type::string:
      return parse_number(std::get<std::string>(value_), out) ? kSOk : kDispETypeMismatch;
    case variant_type::long_ref:
    case variant_type::string_ref: return deref().as_double(out);
    default: return kDispETypeMismatch;
  }
}

hresult Variant::as_string(std::string& out) const {
  switch (type()) {
    case variant_type::empty: out.clear(); return kSOk;
    case variant_type::long_value: out = std::to_string(std::get<std::int32_t>(value_)); return kSOk;
    case variant_type::bool_value: out = std::get<bool>(value_) ? kTrueText : kFalseText; return kSOk;
    case variant_type::double_value: {
      char text[32];
      const auto [end, ec] = std::to_chars(text, text + sizeof text, std::get<double>(value_));
      if (ec != std::errc()) return kDispETypeMismatch;
      out.assign(text, end);
      return kSOk;
    }
    case variant_type::string: out = std::get<std::string>(value_); return kSOk;
    case variant_type::long_ref: return deref().as_string(out);
    case variant_type::string_ref: out = *std::get<std::string*>(value_); return kSOk;
    default: return kDispETypeMismatch;
  }
}

hresult Variant::as_bytes(std::vector<std::uint8_t>& out) const {
  switch (type()) {
    case variant_type::bytes: out = std::get<std::vector<std::uint8_t>>(value_); return kSOk;
    case variant_type::bytes_ref: out = *std::get<std::vector<std::uint8_t>*>(value_); return kSOk;
    default: return kDispETypeMismatch;
  }
}

hresult Variant::as_object(com_ptr<dispatch>& out) const {
  if (type() != variant_type::object) return kDispETypeMismatch;
  out = std::get<com_ptr<dispatch>>(value_);
  return kSOk;
}

std::int32_t Variant::long_or(std::int32_t fallback) const {
  std::int32_t value = fallback;
  return succeeded(as_long(value)) ? value : fallback;
}

bool Variant::bool_or(bool fallback) const {
  bool value = fallback;
  return succeeded(as_bool(value)) ? value : fallback;
}

std::string Variant::string_or(std::string fallback) const {
  std::string value;
  return succeeded(as_string(value)) ? value : fallback;
}

hresult Variant::write_ref(const Variant& value) const {
  switch (type()) {
    case variant_type::long_ref: return value.as_long(*std::get<std::int32_t*>(value_));
    case variant_type::string_ref: return value.as_string(*std::get<std::string*>(value_));
    case variant_type::bytes_ref: return value.as_bytes(*std::get<std::vector<std::uint8_t>*>(value_));
    default: return kDispETypeMismatch;
  }
}

std::string Variant::debug_string() const {
  const auto quoted = [](const std::string& s) {
    std::string text = "\"";
    for (const char c : s) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", byte);
        text += hex;
      } else {
        text += c;
      }
    }
    return text + "\"";
  };
  const auto hex_bytes = [](const std::vector<std::uint8_t>& bytes) {
    std::string text = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
      text += (i == 0 ? "" : " ");
      text += hex;
    }
    return text + "]";
  };
  const std::string kind(variant_type_name(type()));
  switch (type()) {
    case variant_type::empty: return kind;
    case variant_type::object: return kind + (std::get<com_ptr<dispatch>>(value_) ? " set" : " null");
    case variant_type::string: return kind + " " + quoted(std::get<std::string>(value_));
    case variant_type::bytes: return kind + " " + hex_bytes(std::get<std::vector<std::uint8_t>>(value_));
    case variant_type::string_ref: return kind + " -> " + quoted(*std::get<std::string*>(value_));
    case variant_type::bytes_ref:
      return kind + " -> " + hex_bytes(*std::get<std::vector<std::uint8_t>*>(value_));
    case variant_type::long_ref: return kind + " -> " + deref().string_or();
    default: return kind + " " + string_or();
  }
}

}  // namespace platform
