// The kit's object model: result codes, reference-counted objects, automation values (Variant),
// dispatch by member name, event sinks, class factories, creation and in-process servers.
#pragma once

#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/guid.h"

namespace platform {

// ---------------------------------------------------------------------------------------------
// Result codes

// Result of every call across an object boundary; negative values are failures.
using hresult = std::int32_t;

inline constexpr hresult kSOk = 0;
inline constexpr hresult kSFalse = 1;
inline constexpr hresult kENotImpl = static_cast<hresult>(0x80004001u);
inline constexpr hresult kENoInterface = static_cast<hresult>(0x80004002u);
inline constexpr hresult kEPointer = static_cast<hresult>(0x80004003u);
inline constexpr hresult kEFail = static_cast<hresult>(0x80004005u);
inline constexpr hresult kEOutOfMemory = static_cast<hresult>(0x8007000Eu);
inline constexpr hresult kEInvalidArg = static_cast<hresult>(0x80070057u);
inline constexpr hresult kDispEUnknownName = static_cast<hresult>(0x80020006u);
inline constexpr hresult kDispEMemberNotFound = static_cast<hresult>(0x80020003u);
inline constexpr hresult kDispETypeMismatch = static_cast<hresult>(0x80020005u);
inline constexpr hresult kDispEOverflow = static_cast<hresult>(0x8002000Au);
inline constexpr hresult kDispEBadParamCount = static_cast<hresult>(0x8002000Eu);
inline constexpr hresult kDispEException = static_cast<hresult>(0x80020009u);
inline constexpr hresult kCtlESetNotSupported = static_cast<hresult>(0x800A017Fu);
inline constexpr hresult kRegdbEClassNotReg = static_cast<hresult>(0x80040154u);
inline constexpr hresult kCoEClassString = static_cast<hresult>(0x800401F3u);
inline constexpr hresult kClassENoAggregation = static_cast<hresult>(0x80040110u);
inline constexpr hresult kClassEClassNotAvailable = static_cast<hresult>(0x80040111u);
inline constexpr hresult kConnectENoConnection = static_cast<hresult>(0x80040200u);

constexpr bool succeeded(hresult hr) { return hr >= 0; }
constexpr bool failed(hresult hr) { return hr < 0; }

// The failure code that carries a platform error number, such as a registry result (0x8007xxxx).
constexpr hresult hresult_from_win32(long code) {
  return code <= 0 ? static_cast<hresult>(code)
                   : static_cast<hresult>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu));
}

// "0x80020006 (DISP_E_UNKNOWNNAME)" for a code named above, else the hex form alone.
std::string hresult_text(hresult hr);

// Thrown inside an object to fail the current call with `code`; the dispatch helpers turn it
// into that result at the object's edge and keep the text as the call's error info.
class com_error : public std::runtime_error {
 public:
  com_error(hresult code, const std::string& text) : std::runtime_error(text), code_(code) {}
  hresult code() const { return code_; }

 private:
  hresult code_;
};

// Sets the text that explains the failure this thread's current call is about to return
// (kept process-wide, so a caller in another library sees it).
void set_error_info(std::string text);
// Takes the text set by the last failing call on this thread; empty when none.
std::string take_error_info();

// ---------------------------------------------------------------------------------------------
// Objects and interfaces

// The base interface of every object: its reference count and the interfaces it offers.
class unknown {
 public:
  static constexpr guid kIid = guid::literal("{00000000-0000-0000-C000-000000000046}");
  // Adds a reference; returns the new count (for diagnostics only).
  virtual std::uint32_t add_ref() = 0;
  // Drops a reference; the object destroys itself when the count reaches 0.
  virtual std::uint32_t release() = 0;
  // Hands out interface `iid` with a new reference in *out, or kENoInterface with *out null.
  virtual hresult query_interface(const guid& iid, void** out) = 0;

 protected:
  ~unknown() = default;
};

// Owns one reference to an object (RAII); copying adds a reference, destruction drops it.
template <class T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  // Shares `p`: takes a reference of its own.
  explicit com_ptr(T* p) noexcept : p_(p) {
    if (p_ != nullptr) p_->add_ref();
  }
  // Takes over a reference the caller already holds (a fresh object, an out-parameter).
  static com_ptr adopt(T* p) noexcept {
    com_ptr r;
    r.p_ = p;
    return r;
  }
  com_ptr(const com_ptr& other) noexcept : com_ptr(other.p_) {}
  com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U>
    requires std::convertible_to<U*, T*>
  com_ptr(const com_ptr<U>& other) noexcept : com_ptr(static_cast<T*>(other.get())) {}
  com_ptr& operator=(com_ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~com_ptr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // Drops the reference now.
  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->release();
  }
  // Gives up ownership without releasing; the caller now holds the reference.
  T* detach() noexcept { return std::exchange(p_, nullptr); }
  // Drops the current reference and hands out the slot, for a function that stores a new one.
  T** put() noexcept {
    reset();
    return &p_;
  }

  // Asks the object for interface U (which names its id as U::kIid); null when it has none.
  template <class U>
  com_ptr<U> as() const {
    void* raw = nullptr;
    if (p_ != nullptr && failed(p_->query_interface(U::kIid, &raw))) raw = nullptr;
    return com_ptr<U>::adopt(static_cast<U*>(raw));
  }

  friend bool operator==(const com_ptr& a, const com_ptr& b) { return a.p_ == b.p_; }
  friend bool operator==(const com_ptr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

class Variant;

// How a member is invoked; a caller may combine method | property_get, as automation does for a
// call through a name that may be either.
enum class invoke_kind : std::uint32_t { method = 1, property_get = 2, property_put = 4 };

constexpr invoke_kind operator|(invoke_kind a, invoke_kind b) {
  return static_cast<invoke_kind>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
// True when `set` includes `kind`.
constexpr bool has_kind(invoke_kind set, invoke_kind kind) {
  return (static_cast<std::uint32_t>(set) & static_cast<std::uint32_t>(kind)) != 0;
}

// An object whose members are called by dispatch id, found from the member's name.
class dispatch : public unknown {
 public:
  static constexpr guid kIid = guid::literal("{00020400-0000-0000-C000-000000000046}");
  // Looks up the dispatch id of one member name, ignoring case; kDispEUnknownName when absent.
  virtual hresult get_ids_of_names(std::string_view name, long& dispid) = 0;
  // Calls member `dispid`. Arguments are positional in natural order: args[0] is the first
  // argument. A property put passes the new value as the last argument. By-reference cells in
  // `args` may be written by the callee. `result` may be null when the caller wants no value.
  // Blocks until the member returns.
  virtual hresult invoke(long dispid, invoke_kind kind, std::span<const Variant> args,
                         Variant* result) = 0;

 protected:
  ~dispatch() = default;
};

namespace com_detail {

// What an interface in ref_counted's list answers to: I::interface_type when it names one (a
// mix-in implementing an interface), else I itself.
template <class I>
struct interface_of {
  using type = I;
};
template <class I>
  requires requires { typename I::interface_type; }
struct interface_of<I> {
  using type = typename I::interface_type;
};

}  // namespace com_detail

// Reference counting and interface lookup for an object that implements `First` and `Rest`
// (interfaces, or mix-ins naming theirs as interface_type). query_interface answers unknown with
// `First` and each listed interface with itself. Objects start with one reference (adopt it
// into a com_ptr) and delete themselves when the last one goes; the count is thread-safe.
template <class First, class... Rest>
class ref_counted : public First, public Rest... {
 public:
  ref_counted(const ref_counted&) = delete;
  ref_counted& operator=(const ref_counted&) = delete;

  std::uint32_t add_ref() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  std::uint32_t release() override {
    const std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  hresult query_interface(const guid& iid, void** out) override {
    if (out == nullptr) return kEPointer;
    *out = nullptr;
    if (iid == platform::unknown::kIid) {
      *out = interface_pointer<First>();
    } else {
      [[maybe_unused]] const bool offered = (offer<First>(iid, out) || ... || offer<Rest>(iid, out));
    }
    if (*out == nullptr) return kENoInterface;
    add_ref();
    return kSOk;
  }

 protected:
  ref_counted() = default;
  virtual ~ref_counted() = default;

 private:
  // This object as the interface that I implements.
  template <class I>
  typename com_detail::interface_of<I>::type* interface_pointer() {
    return static_cast<I*>(this);
  }
  // Answers `iid` with the interface that I implements.
  template <class I>
  bool offer(const guid& iid, void** out) {
    if (iid != com_detail::interface_of<I>::type::kIid) return false;
    *out = interface_pointer<I>();
    return true;
  }

  std::atomic<std::uint32_t> refs_{1};
};

// ---------------------------------------------------------------------------------------------
// Variant

// Kinds of value a Variant holds; the *_ref kinds point at a variable the caller owns.
enum class variant_type {
  empty,
  long_value,    // 32-bit signed
  bool_value,    // automation boolean (reads as -1 / 0 in number form)
  double_value,
  string,        // bytes; UTF-8 text, or printer data with one character per byte (NULs allowed)
  object,        // a dispatch pointer (may be null)
  bytes,         // one-dimensional byte array
  long_ref,
  string_ref,
  bytes_ref,
};

// Name of a value kind for messages ("long", "string&", ...).
std::string_view variant_type_name(variant_type type);

// An automation value: small, copyable, compared by value. A by-reference cell refers to a
// variable that the caller owns and keeps alive for the call; the callee writes through it and
// the caller reads the variable after the call returns. Conversions follow automation: they look
// through by-reference cells, empty reads as 0 / false / "", true reads as -1, and anything that
// does not convert gives kDispETypeMismatch (kDispEOverflow for a number outside 32 bits).
class Variant {
 public:
  Variant() = default;
  // Any integer type is stored as a 32-bit long (cut to 32 bits).
  template <std::integral I>
    requires(!std::same_as<I, bool>)
  Variant(I value) : value_(static_cast<std::int32_t>(value)) {}
  Variant(bool value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(std::string_view value) : value_(std::string(value)) {}
  Variant(const char* value) : value_(std::string(value != nullptr ? value : "")) {}
  Variant(com_ptr<dispatch> object) : value_(std::move(object)) {}
  // Shares `object` (takes a reference).
  Variant(dispatch* object) : value_(com_ptr<dispatch>(object)) {}
  Variant(std::vector<std::uint8_t> bytes) : value_(std::move(bytes)) {}

  // By-reference cells on the caller's variables.
  static Variant ref(std::int32_t& cell) { return Variant(&cell); }
  static Variant ref(std::string& cell) { return Variant(&cell); }
  static Variant ref(std::vector<std::uint8_t>& cell) { return Variant(&cell); }

  variant_type type() const { return static_cast<variant_type>(value_.index()); }
  bool is_empty() const { return type() == variant_type::empty; }
  bool is_ref() const;

  // Conversions; `out` is changed only on success.
  hresult as_long(std::int32_t& out) const;
  hresult as_bool(bool& out) const;
  hresult as_double(double& out) const;
  hresult as_string(std::string& out) const;
  hresult as_bytes(std::vector<std::uint8_t>& out) const;
  hresult as_object(com_ptr<dispatch>& out) const;

  // Shortcuts that give `fallback` where the conversion fails.
  std::int32_t long_or(std::int32_t fallback = 0) const;
  bool bool_or(bool fallback = false) const;
  std::string string_or(std::string fallback = {}) const;

  // The caller's variable behind a by-reference cell of type Cell (std::int32_t, std::string or
  // std::vector<std::uint8_t>); null for any other value.
  template <class Cell>
  Cell* cell() const {
    Cell* const* found = std::get_if<Cell*>(&value_);
    return found != nullptr ? *found : nullptr;
  }
  // The value with a by-reference cell read (a copy of what the variable holds now).
  Variant deref() const;
  // Writes `value`, converted to the cell's type, into the caller's variable; kDispETypeMismatch
  // when this is not a by-reference cell or the value does not convert.
  hresult write_ref(const Variant& value) const;

  // A short readable form for logs and test messages: long 5, string "ab\x00", bool true, ...
  std::string debug_string() const;

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  explicit Variant(std::int32_t* cell) : value_(cell) {}
  explicit Variant(std::string* cell) : value_(cell) {}
  explicit Variant(std::vector<std::uint8_t>* cell) : value_(cell) {}

  // Alternatives in the order of variant_type.
  std::variant<std::monostate, std::int32_t, bool, double, std::string, com_ptr<dispatch>,
               std::vector<std::uint8_t>, std::int32_t*, std::string*, std::vector<std::uint8_t>*>
      value_;
};

// ---------------------------------------------------------------------------------------------
// Calling members by name

// True when `a` and `b` are the same text but for the case of ASCII letters, as member names,
// ProgIDs and CLSID texts compare.
bool equal_ignoring_case(std::string_view a, std::string_view b);

// Outcome of a call: its result code and the value the member returned (empty when none).
struct call_result {
  hresult hr = kSOk;
  Variant value;
  bool ok() const { return succeeded(hr); }
};

// Name → dispatch id table that several clients of objects of one class may share, so a name is
// looked up once per process. Not locked: use it from one thread (the objects' own).
class dispid_cache {
 public:
  // The id of `name` on `object`, from the table or looked up and remembered.
  hresult lookup(dispatch* object, std::string_view name, long& dispid);
  void clear() { entries_.clear(); }

 private:
  std::vector<std::pair<std::string, long>> entries_;  // names in lower case
};

// Looks `name` up on `object` (every time) and invokes it with `kind`.
call_result invoke_by_name(dispatch* object, std::string_view name, invoke_kind kind,
                           std::span<const Variant> args);

// Calls method `name` on `object` with the given arguments (values or Variant::ref cells).
template <class... A>
call_result call(dispatch* object, std::string_view name, A&&... args) {
  const Variant list[] = {Variant(std::forward<A>(args))..., Variant()};
  return invoke_by_name(object, name, invoke_kind::method,
                        std::span<const Variant>(list, sizeof...(A)));
}

// A client of one object that calls members by name, optionally through a dispid_cache.
class dispatch_client {
 public:
  dispatch_client() = default;
  // `cache` (may be null: look names up on every call) must outlive the client.
  explicit dispatch_client(com_ptr<dispatch> object, dispid_cache* cache = nullptr)
      : object_(std::move(object)), cache_(cache) {}

  dispatch* get() const { return object_.get(); }
  const com_ptr<dispatch>& object() const { return object_; }
  explicit operator bool() const { return static_cast<bool>(object_); }
  void reset() { object_.reset(); }

  // Calls method `name` with the given arguments (values or Variant::ref cells).
  template <class... A>
  call_result call(std::string_view name, A&&... args) {
    const Variant list[] = {Variant(std::forward<A>(args))..., Variant()};
    return invoke(name, invoke_kind::method, std::span<const Variant>(list, sizeof...(A)));
  }
  // Reads property `name`.
  call_result get(std::string_view name) { return invoke(name, invoke_kind::property_get, {}); }
  // Writes property `name`.
  hresult put(std::string_view name, const Variant& value) {
    return invoke(name, invoke_kind::property_put, std::span<const Variant>(&value, 1)).hr;
  }
  // The general form.
  call_result invoke(std::string_view name, invoke_kind kind, std::span<const Variant> args);

 private:
  com_ptr<dispatch> object_;
  dispid_cache* cache_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Member discovery

// One member of an object as its member list describes it. Types are letters: 'l' long,
// 'b' bool, 'd' double, 's' string, 'y' byte array, 'o' object, 'v' any value, and the
// by-reference cells 'L' long&, 'S' string&, 'Y' byte array&; "?" when the member did not say.
struct member_description {
  std::string name;
  long dispid = 0;
  invoke_kind kind = invoke_kind::method;
  std::string params;  // one letter per argument, in order (a property put: the new value)
  std::string result;  // the letter of the value handed back; "" for none
};

// Lists an object's members (name, dispatch id, kind, argument types): what a type library
// tells on the platform the kit comes from. Objects made with dispatch_object offer it.
class member_list : public unknown {
 public:
  static constexpr guid kIid = guid::literal("{6B1D3F60-2C4E-4E55-9A7D-5D2B8C0F41A3}");
  using interface_type = member_list;
  // Replaces `out` with the members, in the order of the object's table.
  virtual hresult list_members(std::vector<member_description>& out) = 0;

 protected:
  ~member_list() = default;
};

// The name of a type letter of member_description: "long", "string&", ...; "unknown" for "?".
std::string_view member_type_name(char letter);
// Lists the members of `object`; kENoInterface when it offers no member list.
hresult list_members(dispatch* object, std::vector<member_description>& out);

// ---------------------------------------------------------------------------------------------
// Events

// The attachment point of an object's events: sinks are dispatch objects whose members the
// event source calls.
class connection_point : public unknown {
 public:
  static constexpr guid kIid = guid::literal("{B196B286-BAB4-101A-B69C-00AA00341D07}");
  using interface_type = connection_point;
  // Attaches `sink` (takes a reference); `cookie` identifies the attachment.
  virtual hresult advise(dispatch* sink, std::uint32_t& cookie) = 0;
  // Detaches the sink attached under `cookie`; kConnectENoConnection for an unknown cookie.
  virtual hresult unadvise(std::uint32_t cookie) = 0;

 protected:
  ~connection_point() = default;
};

// The sink list of an object that fires events. Firing calls each sink in the order attached,
// on the calling thread, and returns after the last one; sinks may attach or detach meanwhile.
// Not locked: used on the event source's own thread.
class event_sinks {
 public:
  hresult advise(dispatch* sink, std::uint32_t& cookie);
  hresult unadvise(std::uint32_t cookie);
  std::size_t size() const { return sinks_.size(); }
  // Detaches every sink (an event source does this when it goes away).
  void clear() { sinks_.clear(); }

  // Invokes event `dispid` (or the member called `name`) as a method on every sink. A sink that
  // lacks the member is skipped; the result is the first other failure, else kSOk.
  hresult fire_args(long dispid, std::span<const Variant> args);
  hresult fire_args(std::string_view name, std::span<const Variant> args);
  template <class... A>
  hresult fire(long dispid, A&&... args) {
    const Variant list[] = {Variant(std::forward<A>(args))..., Variant()};
    return fire_args(dispid, std::span<const Variant>(list, sizeof...(A)));
  }
  template <class... A>
  hresult fire(std::string_view name, A&&... args) {
    const Variant list[] = {Variant(std::forward<A>(args))..., Variant()};
    return fire_args(name, std::span<const Variant>(list, sizeof...(A)));
  }

 private:
  std::vector<std::pair<std::uint32_t, com_ptr<dispatch>>> sinks_;
  std::uint32_t next_cookie_ = 1;
};

// ---------------------------------------------------------------------------------------------
// Class factories and creation

// Makes the objects of one class.
class class_factory : public unknown {
 public:
  static constexpr guid kIid = guid::literal("{00000001-0000-0000-C000-000000000046}");
  // Creates an object and hands out its interface `iid`; `outer` must be null
  // (kClassENoAggregation otherwise).
  virtual hresult create_instance(unknown* outer, const guid& iid, void** out) = 0;
  // Counts a lock that keeps the class's library loaded (lock false drops one).
  virtual hresult lock_server(bool lock) = 0;

 protected:
  ~class_factory() = default;
};

// Creates one object and hands out its interface `iid` with a reference in *out.
using create_function = hresult (*)(const guid& iid, void** out);

// A factory that makes its objects with `create`.
com_ptr<class_factory> make_class_factory(create_function create);

// Finds the class of a ProgID, also through a version-independent ProgID's CurVer, or reads
// "{clsid}" text. kCoEClassString when the ProgID is not registered or the text is malformed.
hresult clsid_from_prog_id(std::string_view prog_id, guid& clsid);

// The class object of `clsid`: one registered in this process, else the one of the in-process
// server that the registry names (HKEY_CLASSES_ROOT\CLSID\{clsid}\InProcServer32), loaded with
// dlopen on first use and kept loaded. kRegdbEClassNotReg when the class is not registered or
// its library cannot be loaded; kEFail when the library lacks DllGetClassObject.
hresult get_class_object(const guid& clsid, const guid& iid, void** out);

// Creates an object of class `clsid` and hands out its interface `iid`.
hresult create_instance(const guid& clsid, const guid& iid, void** out);
// The same from a ProgID or from "{clsid}" text.
hresult create_instance(std::string_view prog_id_or_clsid, const guid& iid, void** out);

template <class T>
hresult create_instance(const guid& clsid, com_ptr<T>& out) {
  void* raw = nullptr;
  const hresult hr = create_instance(clsid, T::kIid, &raw);
  out = com_ptr<T>::adopt(succeeded(hr) ? static_cast<T*>(raw) : nullptr);
  return hr;
}
template <class T>
hresult create_instance(std::string_view prog_id_or_clsid, com_ptr<T>& out) {
  void* raw = nullptr;
  const hresult hr = create_instance(prog_id_or_clsid, T::kIid, &raw);
  out = com_ptr<T>::adopt(succeeded(hr) ? static_cast<T*>(raw) : nullptr);
  return hr;
}

// Why the last creation on this thread failed: the missing key, the dlerror text, the missing
// export. Empty after a success.
std::string com_last_error();

// Unloads every library loaded for creation whose DllCanUnloadNow answers kSOk; returns how many.
std::size_t free_unused_libraries();

// Makes `factory` serve class `clsid` in this process (before the registry) until revoked, for
// a program that hosts its own objects. A non-empty `prog_id` also resolves to `clsid` here.
hresult register_class_object(const guid& clsid, class_factory* factory, std::uint32_t& cookie,
                              std::string_view prog_id = {});
// Withdraws a registration; kEInvalidArg for an unknown cookie.
hresult revoke_class_object(std::uint32_t cookie);

// ---------------------------------------------------------------------------------------------
// In-process servers

// One class that a server library offers.
struct server_class {
  guid clsid;
  std::string_view prog_id;      // versioned, e.g. "Korvane.POSPrinter.VX40.1"
  std::string_view description;  // default value of the class keys
  std::string_view threading_model = "Apartment";
  create_function create = nullptr;
};

// "Korvane.POSPrinter.VX40" for "Korvane.POSPrinter.VX40.1": the ProgID without a trailing
// ".<digits>" (the ProgID itself when it has none).
std::string_view version_independent_prog_id(std::string_view prog_id);

// Writes the classes' keys under HKEY_CLASSES_ROOT: ProgID, version-independent ProgID with
// CurVer, CLSID with ProgID, VersionIndependentProgID and InProcServer32 (this library's
// absolute path and ThreadingModel). Failures carry the registry error (hresult_from_win32).
hresult register_server(std::span<const server_class> classes);
// Removes those keys (a ProgID key only while it still names this class). Missing keys are fine.
hresult unregister_server(std::span<const server_class> classes);
// DllGetClassObject for the classes: a factory for `clsid`; kClassEClassNotAvailable otherwise.
hresult server_get_class_object(std::span<const server_class> classes, const guid& clsid,
                                const guid& iid, void** out);
// DllCanUnloadNow: kSOk when no object of this library is alive and no lock is held, else kSFalse.
hresult server_can_unload_now();
// Counts of this library's live objects and server locks (what server_can_unload_now checks).
void module_add_object();
void module_remove_object();
void module_lock(bool lock);

// Counts its object among this library's live objects from construction to destruction, so the
// library stays loaded while the object lives; a base of the objects a library hands out.
class module_object {
 protected:
  module_object() { module_add_object(); }
  ~module_object() { module_remove_object(); }
  module_object(const module_object&) = delete;
  module_object& operator=(const module_object&) = delete;
};

// Signatures of the exports of an in-process server library.
using dll_register_server_fn = hresult (*)();
using dll_get_class_object_fn = hresult (*)(const guid& clsid, const guid& iid, void** out);
using dll_can_unload_now_fn = hresult (*)();

}  // namespace platform

// Defines the four exports of a server library from its array of server_class rows.
#define PLATFORM_COM_SERVER_EXPORTS(classes)                                                   \
  extern "C" __attribute__((visibility("default"))) platform::hresult DllRegisterServer() {    \
    return platform::register_server(classes);                                                 \
  }                                                                                             \
  extern "C" __attribute__((visibility("default"))) platform::hresult DllUnregisterServer() {  \
    return platform::unregister_server(classes);                                               \
  }                                                                                             \
  extern "C" __attribute__((visibility("default"))) platform::hresult DllGetClassObject(       \
      const platform::guid& clsid, const platform::guid& iid, void** out) {                    \
    return platform::server_get_class_object(classes, clsid, iid, out);                        \
  }                                                                                             \
  extern "C" __attribute__((visibility("default"))) platform::hresult DllCanUnloadNow() {      \
    return platform::server_can_unload_now();                                                  \
  }
