// Calling members by name, the dispatch-table helpers that are not templates, event sinks and
// the names of result codes.
#include <cstdio>

#include "platform/dispatch_table.h"

namespace platform {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string lower_copy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower(c);
  return out;
}

// Results that mean "this sink does not handle that event".
bool is_missing_member(hresult hr) { return hr == kDispEMemberNotFound || hr == kDispEUnknownName; }

struct named_code {
  hresult code;
  const char* name;
};

constexpr named_code kCodeNames[] = {
    {kSOk, "S_OK"},
    {kSFalse, "S_FALSE"},
    {kENotImpl, "E_NOTIMPL"},
    {kENoInterface, "E_NOINTERFACE"},
    {kEPointer, "E_POINTER"},
    {kEFail, "E_FAIL"},
    {kEOutOfMemory, "E_OUTOFMEMORY"},
    {kEInvalidArg, "E_INVALIDARG"},
    {kDispEUnknownName, "DISP_E_UNKNOWNNAME"},
    {kDispEMemberNotFound, "DISP_E_MEMBERNOTFOUND"},
    {kDispETypeMismatch, "DISP_E_TYPEMISMATCH"},
    {kDispEOverflow, "DISP_E_OVERFLOW"},
    {kDispEBadParamCount, "DISP_E_BADPARAMCOUNT"},
    {kDispEException, "DISP_E_EXCEPTION"},
    {kCtlESetNotSupported, "CTL_E_SETNOTSUPPORTED"},
    {kRegdbEClassNotReg, "REGDB_E_CLASSNOTREG"},
    {kCoEClassString, "CO_E_CLASSSTRING"},
    {kClassENoAggregation, "CLASS_E_NOAGGREGATION"},
    {kClassEClassNotAvailable, "CLASS_E_CLASSNOTAVAILABLE"},
    {kConnectENoConnection, "CONNECT_E_NOCONNECTION"},
};

}  // namespace

std::string hresult_text(hresult hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  for (const auto& row : kCodeNames) {
    if (row.code == hr) return std::string(hex) + " (" + row.name + ")";
  }
  return hex;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// --- dispatch table helpers ------------------------------------------------------------------

void dispatch_detail::note_bad_argument(std::size_t index, const Variant& arg,
                                        std::string_view wanted) {
  set_error_info("argument " + std::to_string(index + 1) + " is " +
                 std::string(variant_type_name(arg.type())) + ", not " + std::string(wanted));
}

// --- calling by name -------------------------------------------------------------------------

hresult dispid_cache::lookup(dispatch* object, std::string_view name, long& dispid) {
  const std::string key = lower_copy(name);
  for (const auto& [cached_name, id] : entries_) {
    if (cached_name == key) {
      dispid = id;
      return kSOk;
    }
  }
  if (object == nullptr) return kEPointer;
  long id = 0;
  const hresult hr = object->get_ids_of_names(name, id);
  if (failed(hr)) return hr;
  entries_.emplace_back(key, id);
  dispid = id;
  return kSOk;
}

call_result invoke_by_name(dispatch* object, std::string_view name, invoke_kind kind,
                           std::span<const Variant> args) {
  call_result out;
  if (object == nullptr) {
    out.hr = kEPointer;
    return out;
  }
  long dispid = 0;
  out.hr = object->get_ids_of_names(name, dispid);
  if (succeeded(out.hr)) out.hr = object->invoke(dispid, kind, args, &out.value);
  return out;
}

call_result dispatch_client::invoke(std::string_view name, invoke_kind kind,
                                    std::span<const Variant> args) {
  if (cache_ == nullptr) return invoke_by_name(object_.get(), name, kind, args);
  call_result out;
  if (!object_) {
    out.hr = kEPointer;
    return out;
  }
  long dispid = 0;
  out.hr = cache_->lookup(object_.get(), name, dispid);
  if (succeeded(out.hr)) out.hr = object_->invoke(dispid, kind, args, &out.value);
  return out;
}

// --- event sinks -----------------------------------------------------------------------------

hresult event_sinks::advise(dispatch* sink, std::uint32_t& cookie) {
  if (sink == nullptr) return kEPointer;
  cookie = next_cookie_++;
  sinks_.emplace_back(cookie, com_ptr<dispatch>(sink));
  return kSOk;
}

hresult event_sinks::unadvise(std::uint32_t cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first == cookie) {
      // Released after the list is consistent again: the sink's destructor may call back.
      com_ptr<dispatch> sink = std::move(it->second);
      sinks_.erase(it);
      return kSOk;
    }
  }
  return kConnectENoConnection;
}

hresult event_sinks::fire_args(long dispid, std::span<const Variant> args) {
  // A copy, so that a sink may attach or detach sinks while it handles the event.
  std::vector<com_ptr<dispatch>> targets;
  for (const auto& entry : sinks_) targets.push_back(entry.second);
  hresult first_failure = kSOk;
  for (const auto& sink : targets) {
    Variant ignored;
    const hresult hr = sink->invoke(dispid, invoke_kind::method, args, &ignored);
    if (failed(hr) && !is_missing_member(hr) && succeeded(first_failure)) first_failure = hr;
  }
  return first_failure;
}

hresult event_sinks::fire_args(std::string_view name, std::span<const Variant> args) {
  std::vector<com_ptr<dispatch>> targets;
  for (const auto& entry : sinks_) targets.push_back(entry.second);
  hresult first_failure = kSOk;
  for (const auto& sink : targets) {
    const call_result r = invoke_by_name(sink.get(), name, invoke_kind::method, args);
    if (failed(r.hr) && !is_missing_member(r.hr) && succeeded(first_failure)) first_failure = r.hr;
  }
  return first_failure;
}

}  // namespace platform

namespace platform {

std::string_view member_type_name(char letter) {
  struct row {
    char letter;
    std::string_view name;
  };
  static constexpr row kTypes[] = {
      {'l', "long"},   {'b', "bool"},         {'d', "double"}, {'s', "string"}, {'y', "bytes"},
      {'o', "object"}, {'v', "any"},          {'L', "long&"},  {'S', "string&"}, {'Y', "bytes&"},
  };
  for (const row& r : kTypes) {
    if (r.letter == letter) return r.name;
  }
  return "unknown";
}

hresult list_members(dispatch* object, std::vector<member_description>& out) {
  out.clear();
  if (object == nullptr) return kEPointer;
  void* raw = nullptr;
  const hresult hr = object->query_interface(member_list::kIid, &raw);
  if (failed(hr)) return hr;
  const auto list = com_ptr<member_list>::adopt(static_cast<member_list*>(raw));
  return list->list_members(out);
}

}  // namespace platform
