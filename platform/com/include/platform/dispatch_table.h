// Table-driven dispatch objects: a class lists its members as rows {name, dispid, kind, handler}
// and dispatch_object implements reference counting, interface lookup, name lookup and invoke
// with argument-count and type checks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com.h"

namespace platform {

// A handler's way of returning a result code of its own (kSFalse, say) instead of a value.
struct com_status {
  hresult code = kSOk;
};

// One row of a class's member table. `kind` is exactly one of method, property_get and
// property_put; a read-write property has a get row and a put row with the same name and id.
template <class T>
struct dispatch_member {
  std::string_view name;
  long dispid = 0;
  invoke_kind kind = invoke_kind::method;
  hresult (*handler)(T& self, long dispid, std::span<const Variant> args, Variant* result) = nullptr;
  // Argument and result types as member_description letters ("?" when the handler is raw).
  std::string_view params = "?";
  std::string_view result = "?";
};

namespace dispatch_detail {

// Records which argument failed to convert, as the call's error info.
void note_bad_argument(std::size_t index, const Variant& arg, std::string_view wanted);

// Signature of a handler: a member function of T or a free function taking T& first.
template <class F>
struct handler_traits;
template <class C, class R, class... A>
struct handler_traits<R (C::*)(A...)> {
  using owner = C;
  using result = R;
  using args = std::tuple<A...>;
  template <auto F, class... P>
  static R call(C& self, P&&... p) { return (self.*F)(std::forward<P>(p)...); }
};
template <class C, class R, class... A>
struct handler_traits<R (C::*)(A...) const> : handler_traits<R (C::*)(A...)> {
  template <auto F, class... P>
  static R call(C& self, P&&... p) { return (self.*F)(std::forward<P>(p)...); }
};
template <class C, class R, class... A>
struct handler_traits<R (C::*)(A...) noexcept> : handler_traits<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct handler_traits<R (C::*)(A...) const noexcept> : handler_traits<R (C::*)(A...) const> {};
template <class C, class R, class... A>
struct handler_traits<R (*)(C&, A...)> {
  using owner = C;
  using result = R;
  using args = std::tuple<A...>;
  template <auto F, class... P>
  static R call(C& self, P&&... p) { return F(self, std::forward<P>(p)...); }
};

// How a Variant argument becomes a handler parameter of type P: `storage` holds the converted
// value, `load` fills it (kDispETypeMismatch when it cannot), `pass` hands it to the handler.
template <class P>
struct arg_binding;

template <class P>
  requires(std::is_integral_v<std::remove_cvref_t<P>> &&
           !std::is_same_v<std::remove_cvref_t<P>, bool> &&
           (!std::is_lvalue_reference_v<P> || std::is_const_v<std::remove_reference_t<P>>))
struct arg_binding<P> {
  using storage = std::int32_t;
  static constexpr std::string_view kWanted = "long";
  static constexpr char kLetter = 'l';
  static hresult load(const Variant& v, storage& s) { return v.as_long(s); }
  static std::remove_cvref_t<P> pass(storage& s) { return static_cast<std::remove_cvref_t<P>>(s); }
};
template <>
struct arg_binding<bool> {
  using storage = bool;
  static constexpr std::string_view kWanted = "bool";
  static constexpr char kLetter = 'b';
  static hresult load(const Variant& v, storage& s) { return v.as_bool(s); }
  static bool pass(storage& s) { return s; }
};
template <>
struct arg_binding<double> {
  using storage = double;
  static constexpr std::string_view kWanted = "double";
  static constexpr char kLetter = 'd';
  static hresult load(const Variant& v, storage& s) { return v.as_double(s); }
  static double pass(storage& s) { return s; }
};
template <class P>
  requires(std::is_same_v<P, std::string> || std::is_same_v<P, const std::string&> ||
           std::is_same_v<P, std::string_view>)
struct arg_binding<P> {
  using storage = std::string;
  static constexpr std::string_view kWanted = "string";
  static constexpr char kLetter = 's';
  static hresult load(const Variant& v, storage& s) { return v.as_string(s); }
  static P pass(storage& s) { return s; }
};
template <class P>
  requires(std::is_same_v<P, std::vector<std::uint8_t>> ||
           std::is_same_v<P, const std::vector<std::uint8_t>&>)
struct arg_binding<P> {
  using storage = std::vector<std::uint8_t>;
  static constexpr std::string_view kWanted = "bytes";
  static constexpr char kLetter = 'y';
  static hresult load(const Variant& v, storage& s) { return v.as_bytes(s); }
  static P pass(storage& s) { return s; }
};
template <class P>
  requires(std::is_same_v<P, com_ptr<dispatch>> || std::is_same_v<P, const com_ptr<dispatch>&> ||
           std::is_same_v<P, dispatch*>)
struct arg_binding<P> {
  using storage = com_ptr<dispatch>;
  static constexpr std::string_view kWanted = "object";
  static constexpr char kLetter = 'o';
  static hresult load(const Variant& v, storage& s) { return v.as_object(s); }
  static P pass(storage& s) {
    if constexpr (std::is_same_v<P, dispatch*>) {
      return s.get();
    } else {
      return s;
    }
  }
};
template <class P>
  requires(std::is_same_v<P, Variant> || std::is_same_v<P, const Variant&>)
struct arg_binding<P> {
  using storage = Variant;
  static constexpr std::string_view kWanted = "any";
  static constexpr char kLetter = 'v';
  static hresult load(const Variant& v, storage& s) {
    s = v;
    return kSOk;
  }
  static const Variant& pass(storage& s) { return s; }
};

// By-reference parameters take only a by-reference cell of the same type, so a caller that
// forgot to pass a cell hears about it instead of losing the callee's answer.
template <class Cell>
struct ref_binding {
  using storage = Cell*;
  static hresult load(const Variant& v, storage& s) {
    s = v.cell<Cell>();
    return s != nullptr ? kSOk : kDispETypeMismatch;
  }
  static Cell& pass(storage& s) { return *s; }
};
template <>
struct arg_binding<std::int32_t&> : ref_binding<std::int32_t> {
  static constexpr std::string_view kWanted = "long&";
  static constexpr char kLetter = 'L';
};
template <>
struct arg_binding<std::string&> : ref_binding<std::string> {
  static constexpr std::string_view kWanted = "string&";
  static constexpr char kLetter = 'S';
};
template <>
struct arg_binding<std::vector<std::uint8_t>&> : ref_binding<std::vector<std::uint8_t>> {
  static constexpr std::string_view kWanted = "bytes&";
  static constexpr char kLetter = 'Y';
};

// Stores a handler's return value into `result`.
template <class R>
hresult store_result(R&& value, Variant* result) {
  if constexpr (std::is_same_v<std::remove_cvref_t<R>, com_status>) {
    return value.code;
  } else {
    if (result != nullptr) *result = Variant(std::forward<R>(value));
    return kSOk;
  }
}

template <auto F, class Args, std::size_t... I>
hresult call_bound(typename handler_traits<decltype(F)>::owner& self,
                   [[maybe_unused]] std::span<const Variant> args, [[maybe_unused]] Variant* result,
                   std::index_sequence<I...>) {
  using traits = handler_traits<decltype(F)>;
  [[maybe_unused]] std::tuple<typename arg_binding<std::tuple_element_t<I, Args>>::storage...> stored;
  hresult hr = kSOk;
  // Converts the arguments left to right and stops at the first that does not fit.
  const bool all_loaded =
      ((succeeded(hr = arg_binding<std::tuple_element_t<I, Args>>::load(args[I], std::get<I>(stored))) ||
        (note_bad_argument(I, args[I], arg_binding<std::tuple_element_t<I, Args>>::kWanted), false)) &&
       ...);
  if (!all_loaded) return hr;
  using R = typename traits::result;
  if constexpr (std::is_void_v<R>) {
    traits::template call<F>(self, arg_binding<std::tuple_element_t<I, Args>>::pass(std::get<I>(stored))...);
    return kSOk;
  } else {
    return store_result(
        traits::template call<F>(self, arg_binding<std::tuple_element_t<I, Args>>::pass(std::get<I>(stored))...),
        result);
  }
}

// The uniform handler generated for F.
template <auto F>
hresult thunk(typename handler_traits<decltype(F)>::owner& self, [[maybe_unused]] long dispid,
              std::span<const Variant> args, Variant* result) {
  using traits = handler_traits<decltype(F)>;
  using Args = typename traits::args;
  // A raw handler (long dispid, span args, Variant* result) sees the call unchecked.
  if constexpr (std::is_same_v<Args, std::tuple<long, std::span<const Variant>, Variant*>> &&
                std::is_same_v<typename traits::result, hresult>) {
    return traits::template call<F>(self, dispid, args, result);
  } else {
    constexpr std::size_t kArity = std::tuple_size_v<Args>;
    if (args.size() != kArity) return kDispEBadParamCount;
    return call_bound<F, Args>(self, args, result, std::make_index_sequence<kArity>{});
  }
}

// The letter of a handler's result type: "" for void, "?" for com_status (the handler says).
template <class R>
constexpr std::string_view result_letter() {
  using V = std::remove_cvref_t<R>;
  if constexpr (std::is_void_v<V>) {
    return "";
  } else if constexpr (std::is_same_v<V, bool>) {
    return "b";
  } else if constexpr (std::is_integral_v<V>) {
    return "l";
  } else if constexpr (std::is_same_v<V, double>) {
    return "d";
  } else if constexpr (std::is_convertible_v<V, std::string_view>) {
    return "s";
  } else if constexpr (std::is_same_v<V, std::vector<std::uint8_t>>) {
    return "y";
  } else if constexpr (std::is_same_v<V, Variant>) {
    return "v";
  } else if constexpr (std::is_same_v<V, com_status>) {
    return "?";
  } else {
    return "o";
  }
}

// The argument letters of handler F, as a NUL-terminated array (one letter per parameter).
template <class Args, class Seq>
struct param_letters;
template <class Args, std::size_t... I>
struct param_letters<Args, std::index_sequence<I...>> {
  static constexpr char value[] = {arg_binding<std::tuple_element_t<I, Args>>::kLetter..., '\0'};
};

// The parameter and result letters of handler F ("?" both for a raw handler).
template <auto F>
struct signature_of {
  using traits = handler_traits<decltype(F)>;
  using Args = typename traits::args;
  static constexpr bool kRaw = std::is_same_v<Args, std::tuple<long, std::span<const Variant>, Variant*>> &&
                               std::is_same_v<typename traits::result, hresult>;
  static constexpr std::string_view params() {
    if constexpr (kRaw) {
      return "?";
    } else {
      return param_letters<Args, std::make_index_sequence<std::tuple_size_v<Args>>>::value;
    }
  }
  static constexpr std::string_view result() {
    if constexpr (kRaw) {
      return "?";
    } else {
      return result_letter<typename traits::result>();
    }
  }
};

}  // namespace dispatch_detail

// Row builders: dispatch_method<&T::Claim>("Claim", 2). The handler is a member function of T or
// a free function taking T& first; its parameters say what each argument must convert to
// (std::int32_t or another integer, bool, double, std::string / std::string_view, byte vector,
// com_ptr<dispatch> or dispatch*, Variant; std::int32_t&, std::string& and byte-vector&
// require by-reference cells). It returns void, a value a Variant takes, or com_status. A handler
// with the parameters (long dispid, std::span<const Variant> args, Variant* result) returning
// hresult gets the call raw, without checks.
template <auto F>
constexpr auto dispatch_method(std::string_view name, long dispid) {
  using T = typename dispatch_detail::handler_traits<decltype(F)>::owner;
  return dispatch_member<T>{name, dispid, invoke_kind::method, &dispatch_detail::thunk<F>,
                           dispatch_detail::signature_of<F>::params(), dispatch_detail::signature_of<F>::result()};
}
template <auto F>
constexpr auto dispatch_get(std::string_view name, long dispid) {
  using T = typename dispatch_detail::handler_traits<decltype(F)>::owner;
  return dispatch_member<T>{name, dispid, invoke_kind::property_get, &dispatch_detail::thunk<F>,
                           dispatch_detail::signature_of<F>::params(), dispatch_detail::signature_of<F>::result()};
}
template <auto F>
constexpr auto dispatch_put(std::string_view name, long dispid) {
  using T = typename dispatch_detail::handler_traits<decltype(F)>::owner;
  return dispatch_member<T>{name, dispid, invoke_kind::property_put, &dispatch_detail::thunk<F>,
                           dispatch_detail::signature_of<F>::params(), dispatch_detail::signature_of<F>::result()};
}

// Base of a dispatch object of class T, which provides
//   static std::span<const dispatch_member<T>> dispatch_members();
// It lists those rows through member_list (asked for with query_interface).
// `Extra` are further interfaces the object offers (connection_point_impl, say). Objects start
// with one reference: create them with make_object. Every live object keeps its library loaded.
// A failure thrown by a handler ends at invoke: com_error gives its code, anything else
// kDispEException; the text becomes the call's error info.
template <class T, class... Extra>
class dispatch_object : public ref_counted<dispatch, Extra...>, private module_object {
 public:
  dispatch_object(const dispatch_object&) = delete;
  dispatch_object& operator=(const dispatch_object&) = delete;

  // Answers member_list with a small object of its own that lists T's rows, so that the class
  // keeps a single path to unknown.
  hresult query_interface(const guid& iid, void** out) override {
    if (iid != member_list::kIid) return ref_counted<dispatch, Extra...>::query_interface(iid, out);
    if (out == nullptr) return kEPointer;
    *out = nullptr;
    try {
      *out = static_cast<member_list*>(new lister(com_ptr<dispatch>(static_cast<dispatch*>(this))));
    } catch (const std::bad_alloc&) {
      return kEOutOfMemory;
    }
    return kSOk;
  }

  hresult get_ids_of_names(std::string_view name, long& dispid) override {
    for (const auto& row : T::dispatch_members()) {
      if (equal_ignoring_case(row.name, name)) {
        dispid = row.dispid;
        return kSOk;
      }
    }
    return kDispEUnknownName;
  }

  hresult invoke(long dispid, invoke_kind kind, std::span<const Variant> args,
                 Variant* result) override {
    const dispatch_member<T>* method = nullptr;
    const dispatch_member<T>* getter = nullptr;
    const dispatch_member<T>* putter = nullptr;
    for (const auto& row : T::dispatch_members()) {
      if (row.dispid != dispid) continue;
      if (row.kind == invoke_kind::method) method = &row;
      if (row.kind == invoke_kind::property_get) getter = &row;
      if (row.kind == invoke_kind::property_put) putter = &row;
    }
    // A combined request prefers the method, then the property read, as automation does.
    const dispatch_member<T>* chosen = nullptr;
    if (has_kind(kind, invoke_kind::method) && method != nullptr) {
      chosen = method;
    } else if (has_kind(kind, invoke_kind::property_get) && getter != nullptr) {
      chosen = getter;
    } else if (has_kind(kind, invoke_kind::property_put) && putter != nullptr) {
      chosen = putter;
    } else if (has_kind(kind, invoke_kind::property_put) && getter != nullptr) {
      return kCtlESetNotSupported;
    }
    if (chosen == nullptr) return kDispEMemberNotFound;
    if (result != nullptr) *result = Variant();
    com_ptr<dispatch> keep_alive(this);  // a handler may drop the caller's last reference
    try {
      return chosen->handler(static_cast<T&>(*this), dispid, args, result);
    } catch (const com_error& e) {
      set_error_info(e.what());
      return e.code();
    } catch (const std::exception& e) {
      set_error_info(e.what());
      return kDispEException;
    } catch (...) {
      set_error_info("unknown failure");
      return kDispEException;
    }
  }

 protected:
  dispatch_object() = default;

 private:
  // The member list of one object; it holds the object, which keeps the library loaded.
  class lister final : public ref_counted<member_list> {
   public:
    explicit lister(com_ptr<dispatch> owner) : owner_(std::move(owner)) {}
    hresult list_members(std::vector<member_description>& out) override {
      out.clear();
      try {
        for (const auto& row : T::dispatch_members()) {
          out.push_back(
              {std::string(row.name), row.dispid, row.kind, std::string(row.params), std::string(row.result)});
        }
      } catch (const std::bad_alloc&) {
        out.clear();
        return kEOutOfMemory;
      }
      return kSOk;
    }

   private:
    ~lister() override = default;
    com_ptr<dispatch> owner_;
  };
};

// Implements connection_point over an event_sinks list; mix it into dispatch_object's Extra
// list and fire events through events().
class connection_point_impl : public connection_point {
 public:
  hresult advise(dispatch* sink, std::uint32_t& cookie) override { return events_.advise(sink, cookie); }
  hresult unadvise(std::uint32_t cookie) override { return events_.unadvise(cookie); }

 protected:
  ~connection_point_impl() = default;
  event_sinks& events() { return events_; }

 private:
  event_sinks events_;
};

// Creates an object of a class derived from dispatch_object, holding its first reference.
template <class T, class... A>
com_ptr<T> make_object(A&&... args) {
  return com_ptr<T>::adopt(new T(std::forward<A>(args)...));
}

// A create_function for server_class rows: makes a T and hands out interface `iid`.
template <class T>
hresult create_object(const guid& iid, void** out) {
  if (out == nullptr) return kEPointer;
  *out = nullptr;
  try {
    com_ptr<T> object = make_object<T>();
    return object->query_interface(iid, out);
  } catch (const std::bad_alloc&) {
    return kEOutOfMemory;
  } catch (...) {
    return kEFail;
  }
}

}  // namespace platform
