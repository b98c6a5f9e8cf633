// Tests of table-driven dispatch objects, calls by name, and event sinks.
#include <gtest/gtest.h>

#include "platform/dispatch_table.h"

namespace {

using platform::call_result;
using platform::com_ptr;
using platform::dispatch;
using platform::hresult;
using platform::invoke_kind;
using platform::Variant;

// A class that exercises every kind of row and handler.
class meter final : public platform::dispatch_object<meter, platform::connection_point_impl> {
 public:
  explicit meter(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~meter() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  static std::span<const platform::dispatch_member<meter>> dispatch_members();

  // Counts name lookups, to show what a dispid cache saves.
  hresult get_ids_of_names(std::string_view name, long& dispid) override {
    ++lookups;
    return dispatch_object::get_ids_of_names(name, dispid);
  }

  std::int32_t Sum(std::int32_t a, long b) { return a + static_cast<std::int32_t>(b); }
  std::string Describe(std::string_view name, bool flag, double ratio) {
    return std::string(name) + (flag ? "+" : "-") + std::to_string(static_cast<int>(ratio * 10));
  }
  void Swap(std::int32_t& number, std::string& text) {
    const std::string old = text;
    text = std::to_string(number);
    number = static_cast<std::int32_t>(old.size());
  }
  std::int32_t get_Count() const { return count_; }
  void put_Count(std::int32_t value) { count_ = value; }
  std::string get_Name() const { return "meter"; }
  hresult Raw(long dispid, std::span<const Variant> args, Variant* result) {
    if (result != nullptr) *result = Variant(static_cast<std::int32_t>(dispid * 100 + args.size()));
    return platform::kSOk;
  }
  void Throw() { throw std::runtime_error("boom"); }
  void Deny() { throw platform::com_error(platform::kEInvalidArg, "denied"); }
  platform::com_status Partly() { return {platform::kSFalse}; }
  // Fires event 2 with a by-reference answer and reports what the sinks left in it.
  std::int32_t Fire(std::int32_t code) {
    std::int32_t answer = 0;
    last_fire = events().fire(2L, code, Variant::ref(answer));
    return answer;
  }

  int lookups = 0;
  hresult last_fire = platform::kSOk;

 private:
  bool* destroyed_;
  std::int32_t count_ = 0;
};

constexpr platform::dispatch_member<meter> kMeterMembers[] = {
    platform::dispatch_method<&meter::Sum>("Sum", 1),
    platform::dispatch_method<&meter::Describe>("Describe", 2),
    platform::dispatch_method<&meter::Swap>("Swap", 3),
    platform::dispatch_get<&meter::get_Count>("Count", 4),
    platform::dispatch_put<&meter::put_Count>("Count", 4),
    platform::dispatch_get<&meter::get_Name>("Name", 5),
    platform::dispatch_method<&meter::Raw>("Raw", 6),
    platform::dispatch_method<&meter::Throw>("Throw", 7),
    platform::dispatch_method<&meter::Deny>("Deny", 8),
    platform::dispatch_method<&meter::Partly>("Partly", 9),
    platform::dispatch_method<&meter::Fire>("Fire", 10),
};

std::span<const platform::dispatch_member<meter>> meter::dispatch_members() { return kMeterMembers; }

// An event sink that answers event 2 by adding `add` to the by-reference answer.
class sink final : public platform::dispatch_object<sink> {
 public:
  sink(std::vector<std::string>& log, std::string name, std::int32_t add, hresult result = platform::kSOk)
      : log_(log), name_(std::move(name)), add_(add), result_(result) {}
  static std::span<const platform::dispatch_member<sink>> dispatch_members();

  platform::com_status OnEvent(std::int32_t code, std::int32_t& answer) {
    log_.push_back(name_ + " saw " + std::to_string(code) + "/" + std::to_string(answer));
    answer += add_;
    return {result_};
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
  std::int32_t add_;
  hresult result_;
};

constexpr platform::dispatch_member<sink> kSinkMembers[] = {
    platform::dispatch_method<&sink::OnEvent>("OnEvent", 2),
};
std::span<const platform::dispatch_member<sink>> sink::dispatch_members() { return kSinkMembers; }

// A sink with no members at all.
class deaf_sink final : public platform::dispatch_object<deaf_sink> {
 public:
  static std::span<const platform::dispatch_member<deaf_sink>> dispatch_members() { return {}; }
};

TEST(DispatchTableTest, InvokeChecksKindCountAndTypes) {
  auto object = platform::make_object<meter>();
  std::int32_t number = 0;
  std::string text;
  struct row {
    const char* what;
    long dispid;
    invoke_kind kind;
    std::vector<Variant> args;
    hresult hr;
    Variant result;
  };
  const row rows[] = {
      {"method", 1, invoke_kind::method, {2, 3}, platform::kSOk, Variant(5)},
      {"arguments convert", 1, invoke_kind::method, {"2", 3.6}, platform::kSOk, Variant(6)},
      {"too few arguments", 1, invoke_kind::method, {2}, platform::kDispEBadParamCount, Variant()},
      {"too many arguments", 1, invoke_kind::method, {2, 3, 4}, platform::kDispEBadParamCount, Variant()},
      {"argument that does not convert", 1, invoke_kind::method, {"x", 3}, platform::kDispETypeMismatch, Variant()},
      {"string, bool and double", 2, invoke_kind::method, {"m", true, 0.5}, platform::kSOk, Variant("m+5")},
      {"value where a cell is needed", 3, invoke_kind::method, {1, "a"}, platform::kDispETypeMismatch, Variant()},
      {"cells of the wrong type", 3, invoke_kind::method, {Variant::ref(text), Variant::ref(number)},
       platform::kDispETypeMismatch, Variant()},
      {"method called as property", 1, invoke_kind::property_get, {}, platform::kDispEMemberNotFound, Variant()},
      {"read-only property written", 5, invoke_kind::property_put, {"new"}, platform::kCtlESetNotSupported,
       Variant()},
      {"property read with a combined kind", 5, invoke_kind::method | invoke_kind::property_get, {},
       platform::kSOk, Variant("meter")},
      {"property called as a method only", 5, invoke_kind::method, {}, platform::kDispEMemberNotFound, Variant()},
      {"unknown dispid", 99, invoke_kind::method, {}, platform::kDispEMemberNotFound, Variant()},
      {"raw handler sees id and count", 6, invoke_kind::method, {1, 2, 3}, platform::kSOk, Variant(603)},
      {"handler's own failure code", 8, invoke_kind::method, {}, platform::kEInvalidArg, Variant()},
      {"handler's own success code", 9, invoke_kind::method, {}, platform::kSFalse, Variant()},
      {"other exceptions", 7, invoke_kind::method, {}, platform::kDispEException, Variant()},
  };
  for (const row& r : rows) {
    Variant result("stale");
    EXPECT_EQ(object->invoke(r.dispid, r.kind, r.args, &result), r.hr)
        << r.what << ": " << platform::hresult_text(r.hr);
    if (r.hr == platform::kSOk) {
      EXPECT_EQ(result, r.result) << r.what << ": " << result.debug_string();
    }
    platform::take_error_info();
  }
}

TEST(DispatchTableTest, FailuresExplainThemselves) {
  auto object = platform::make_object<meter>();
  const Variant args[] = {1, Variant(std::vector<std::uint8_t>{1})};
  EXPECT_EQ(object->invoke(1, invoke_kind::method, args, nullptr), platform::kDispETypeMismatch);
  EXPECT_EQ(platform::take_error_info(), "argument 2 is bytes, not long");
  EXPECT_EQ(object->invoke(7, invoke_kind::method, {}, nullptr), platform::kDispEException);
  EXPECT_EQ(platform::take_error_info(), "boom");
  EXPECT_EQ(platform::take_error_info(), "") << "taking the text clears it";
}

TEST(DispatchTableTest, PropertiesAndByReferenceArguments) {
  auto object = platform::make_object<meter>();
  platform::dispatch_client client(object);
  EXPECT_EQ(client.put("count", 12), platform::kSOk);
  EXPECT_EQ(client.get("COUNT").value, Variant(12));

  std::int32_t number = 7;
  std::string text = "abc";
  const call_result r = client.call("Swap", Variant::ref(number), Variant::ref(text));
  EXPECT_EQ(r.hr, platform::kSOk);
  EXPECT_TRUE(r.value.is_empty());
  EXPECT_EQ(number, 3);
  EXPECT_EQ(text, "7");
}

TEST(DispatchTableTest, NamesAreFoundIgnoringCase) {
  auto object = platform::make_object<meter>();
  long id = 0;
  EXPECT_EQ(object->get_ids_of_names("sUM", id), platform::kSOk);
  EXPECT_EQ(id, 1);
  EXPECT_EQ(object->get_ids_of_names("count", id), platform::kSOk);
  EXPECT_EQ(id, 4);
  EXPECT_EQ(object->get_ids_of_names("Summ", id), platform::kDispEUnknownName);
  EXPECT_EQ(platform::call(object.get(), "Nothing").hr, platform::kDispEUnknownName);
  EXPECT_EQ(platform::call(nullptr, "Sum", 1, 2).hr, platform::kEPointer);
}

TEST(DispatchTableTest, ObjectsCountReferencesAndOfferTheirInterfaces) {
  bool destroyed = false;
  {
    auto object = platform::make_object<meter>(&destroyed);
    void* raw = nullptr;
    EXPECT_EQ(object->query_interface(platform::connection_point::kIid, &raw), platform::kSOk);
    const auto point = com_ptr<platform::connection_point>::adopt(static_cast<platform::connection_point*>(raw));
    EXPECT_EQ(object->query_interface(platform::class_factory::kIid, &raw), platform::kENoInterface);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(object->query_interface(platform::unknown::kIid, nullptr), platform::kEPointer);
    const com_ptr<dispatch> as_dispatch = object.as<dispatch>();
    EXPECT_EQ(as_dispatch.get(), static_cast<dispatch*>(object.get()));
    object.reset();
    EXPECT_FALSE(destroyed) << "the other references keep it";
  }
  EXPECT_TRUE(destroyed);
}

// A hand-written sink on ref_counted alone: it counts references but not the library's objects.
class bare_sink final : public platform::ref_counted<dispatch> {
 public:
  explicit bare_sink(bool* destroyed) : destroyed_(destroyed) {}
  hresult get_ids_of_names(std::string_view, long&) override { return platform::kDispEUnknownName; }
  hresult invoke(long, invoke_kind, std::span<const Variant>, Variant*) override { return platform::kSOk; }

 private:
  ~bare_sink() override { *destroyed_ = true; }
  bool* destroyed_;
};

// A factory that also counts itself among the library's live objects.
class counted_factory final : public platform::ref_counted<platform::class_factory>, private platform::module_object {
 public:
  hresult create_instance(platform::unknown*, const platform::guid&, void**) override { return platform::kENotImpl; }
  hresult lock_server(bool) override { return platform::kSOk; }
};

TEST(RefCountedTest, CountsReferencesAndOffersOnlyItsInterfaces) {
  ASSERT_EQ(platform::server_can_unload_now(), platform::kSOk);
  bool destroyed = false;
  auto* sink = new bare_sink(&destroyed);
  EXPECT_EQ(platform::server_can_unload_now(), platform::kSOk) << "ref_counted alone counts no module object";
  EXPECT_EQ(sink->add_ref(), 2u);

  void* raw = nullptr;
  EXPECT_EQ(sink->query_interface(platform::unknown::kIid, &raw), platform::kSOk);
  EXPECT_EQ(raw, static_cast<dispatch*>(sink));
  EXPECT_EQ(sink->query_interface(dispatch::kIid, &raw), platform::kSOk);
  EXPECT_EQ(raw, static_cast<dispatch*>(sink));
  EXPECT_EQ(sink->query_interface(platform::class_factory::kIid, &raw), platform::kENoInterface);
  EXPECT_EQ(raw, nullptr);
  EXPECT_EQ(sink->query_interface(dispatch::kIid, nullptr), platform::kEPointer);
  // Two references from construction and add_ref, two from the successful lookups.
  EXPECT_EQ(sink->release(), 3u);
  EXPECT_EQ(sink->release(), 2u);
  EXPECT_EQ(sink->release(), 1u);
  EXPECT_FALSE(destroyed);
  EXPECT_EQ(sink->release(), 0u);
  EXPECT_TRUE(destroyed);

  {
    const auto factory = com_ptr<platform::class_factory>::adopt(new counted_factory());
    EXPECT_EQ(platform::server_can_unload_now(), platform::kSFalse) << "module_object counts the factory";
    EXPECT_EQ(factory.as<platform::unknown>().get(), static_cast<platform::unknown*>(factory.get()));
    EXPECT_FALSE(factory.as<dispatch>());
  }
  EXPECT_EQ(platform::server_can_unload_now(), platform::kSOk);
}

TEST(DispatchClientTest, CacheLooksEachNameUpOnce) {
  auto object = platform::make_object<meter>();
  platform::dispid_cache cache;
  platform::dispatch_client cached(object, &cache);
  platform::dispatch_client plain(object);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cached.call("Sum", i, 1).value, Variant(i + 1));
    EXPECT_EQ(cached.call("sum", i, 2).value, Variant(i + 2));
  }
  EXPECT_EQ(object->lookups, 1);
  // A second client sharing the cache, as every instance of a control class does.
  platform::dispatch_client other(object, &cache);
  EXPECT_EQ(other.call("SUM", 1, 1).value, Variant(2));
  EXPECT_EQ(object->lookups, 1);
  plain.call("Sum", 1, 1);
  plain.call("Sum", 1, 1);
  EXPECT_EQ(object->lookups, 3);
  EXPECT_EQ(cached.call("Missing").hr, platform::kDispEUnknownName);
}

TEST(EventSinksTest, SinksAnswerThroughByReferenceArguments) {
  auto source = platform::make_object<meter>();
  const auto point = source.as<platform::connection_point>();
  ASSERT_TRUE(point);
  std::vector<std::string> log;
  auto first = platform::make_object<sink>(log, "first", 5);
  auto second = platform::make_object<sink>(log, "second", 100);
  std::uint32_t cookie1 = 0;
  std::uint32_t cookie2 = 0;
  ASSERT_EQ(point->advise(first.get(), cookie1), platform::kSOk);
  ASSERT_EQ(point->advise(second.get(), cookie2), platform::kSOk);
  EXPECT_NE(cookie1, cookie2);

  // Each sink sees what the ones before it wrote; the source reads the final answer.
  EXPECT_EQ(platform::call(source.get(), "Fire", 9).value, Variant(105));
  EXPECT_EQ(log, (std::vector<std::string>{"first saw 9/0", "second saw 9/5"}));

  EXPECT_EQ(point->unadvise(cookie1), platform::kSOk);
  EXPECT_EQ(point->unadvise(cookie1), platform::kConnectENoConnection);
  EXPECT_EQ(platform::call(source.get(), "Fire", 1).value, Variant(100));
  EXPECT_EQ(point->unadvise(cookie2), platform::kSOk);
  EXPECT_EQ(platform::call(source.get(), "Fire", 1).value, Variant(0));
  EXPECT_EQ(point->advise(nullptr, cookie1), platform::kEPointer);
}

TEST(EventSinksTest, MissingMembersAreSkippedAndFailuresReported) {
  platform::event_sinks sinks;
  std::vector<std::string> log;
  auto deaf = platform::make_object<deaf_sink>();
  auto failing = platform::make_object<sink>(log, "failing", 1, platform::kEFail);
  auto fine = platform::make_object<sink>(log, "fine", 10);
  std::uint32_t cookie = 0;
  sinks.advise(deaf.get(), cookie);
  sinks.advise(failing.get(), cookie);
  sinks.advise(fine.get(), cookie);
  std::int32_t answer = 0;
  EXPECT_EQ(sinks.fire(2L, 3, Variant::ref(answer)), platform::kEFail);
  EXPECT_EQ(answer, 11) << "a failing sink does not stop the others";
  EXPECT_EQ(sinks.fire("OnEvent", 3, Variant::ref(answer)), platform::kEFail);
  EXPECT_EQ(answer, 22) << "firing by name reaches the same member";
  EXPECT_EQ(log.size(), 4u);
  sinks.unadvise(2);
  EXPECT_EQ(sinks.fire(2L, 3, Variant::ref(answer)), platform::kSOk);
  EXPECT_EQ(sinks.size(), 2u);
}

}  // namespace

namespace {

// The member list tells each row's name, id, kind and the types its handler takes and gives,
// read from the handler's signature; a raw handler says "?".
TEST(MemberList, DescribesEveryRowFromItsHandler) {
  const auto object = platform::make_object<meter>();
  std::vector<platform::member_description> members;
  ASSERT_EQ(platform::list_members(object.get(), members), platform::kSOk);
  struct expected_row {
    const char* name;
    long dispid;
    invoke_kind kind;
    const char* params;
    const char* result;
  };
  const expected_row expected[] = {
      {"Sum", 1, invoke_kind::method, "ll", "l"},
      {"Describe", 2, invoke_kind::method, "sbd", "s"},
      {"Swap", 3, invoke_kind::method, "LS", ""},
      {"Count", 4, invoke_kind::property_get, "", "l"},
      {"Count", 4, invoke_kind::property_put, "l", ""},
      {"Name", 5, invoke_kind::property_get, "", "s"},
      {"Raw", 6, invoke_kind::method, "?", "?"},
      {"Throw", 7, invoke_kind::method, "", ""},
      {"Deny", 8, invoke_kind::method, "", ""},
      {"Partly", 9, invoke_kind::method, "", "?"},
      {"Fire", 10, invoke_kind::method, "l", "l"},
  };
  ASSERT_EQ(members.size(), std::size(expected));
  for (std::size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(members[i].name, expected[i].name);
    EXPECT_EQ(members[i].dispid, expected[i].dispid);
    EXPECT_EQ(members[i].kind, expected[i].kind);
    EXPECT_EQ(members[i].params, expected[i].params);
    EXPECT_EQ(members[i].result, expected[i].result);
  }
  EXPECT_EQ(platform::member_type_name('L'), "long&");
  EXPECT_EQ(platform::member_type_name('?'), "unknown");
}

// The list is an interface of its own that holds the object: it outlives the caller's reference,
// and an object without one answers kENoInterface.
TEST(MemberList, HoldsItsObjectAndIsOptional) {
  bool destroyed = false;
  com_ptr<platform::member_list> list;
  {
    const auto object = platform::make_object<meter>(&destroyed);
    list = object.as<platform::member_list>();
    ASSERT_TRUE(list);
  }
  EXPECT_FALSE(destroyed);
  std::vector<platform::member_description> members;
  EXPECT_EQ(list->list_members(members), platform::kSOk);
  EXPECT_FALSE(members.empty());
  list.reset();
  EXPECT_TRUE(destroyed);

  // An event sink made by hand has no table to list.
  class bare final : public platform::ref_counted<dispatch> {
   public:
    hresult get_ids_of_names(std::string_view, long&) override { return platform::kDispEUnknownName; }
    hresult invoke(long, invoke_kind, std::span<const Variant>, Variant*) override { return platform::kSOk; }
  };
  const auto plain = com_ptr<dispatch>::adopt(new bare);
  members.push_back({});
  EXPECT_EQ(platform::list_members(plain.get(), members), platform::kENoInterface);
  EXPECT_TRUE(members.empty());
}

}  // namespace
