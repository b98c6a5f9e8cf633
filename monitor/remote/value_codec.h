// Automation values on the wire: a Variant becomes a protobuf Value and back. Objects travel as
// handles of the caller's session, which the two sides map with the callables they pass.
#pragma once

#include <cstdint>
#include <functional>

#include "object_host.pb.h"
#include "platform/com.h"

namespace monitor::remote {

// Gives the handle of an object to send (0 for a null object), or fails the call.
using object_to_handle = std::function<platform::hresult(const platform::com_ptr<platform::dispatch>&, std::uint64_t&)>;
// Gives the object of a handle received (null for 0), or fails the call.
using handle_to_object = std::function<platform::hresult(std::uint64_t, platform::com_ptr<platform::dispatch>&)>;

// Writes `value` into `out`; a by-reference cell is sent as its variable's current value with
// by_ref set.
platform::hresult encode_value(const platform::Variant& value, quorel::remote::Value& out,
                               const object_to_handle& to_handle);
// The Variant of a received value, without its by_ref mark.
platform::hresult decode_value(const quorel::remote::Value& value, platform::Variant& out,
                               const handle_to_object& to_object);

}  // namespace monitor::remote
