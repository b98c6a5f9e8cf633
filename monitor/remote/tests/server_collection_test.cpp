// ServerCollection through the object model: the list kept in the registry, its order, the
// names it refuses, duplicates, removal and the last-error record.
#include <gtest/gtest.h>

#include <string>

#include "monitor/print_server.h"
#include "monitor/remote.h"
#include "platform/com.h"
#include "platform/testing/temp_dir.h"
#include "server_collection.h"

namespace {

using platform::Variant;

struct error_record {
  std::int32_t number = -1;
  std::string description;
  std::string source;
};

class ServerCollectionTest : public ::testing::Test {
 protected:
  // A new collection object, as a client gets one.
  platform::dispatch_client make() {
    return platform::dispatch_client(platform::make_object<monitor::remote::ServerCollection>());
  }
  std::int32_t add(platform::dispatch_client& c, const std::string& name, const std::string& text = "") {
    std::int32_t result = -1;
    const platform::call_result r = c.call("AddServer", name, text, Variant::ref(result));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value.long_or(-2), result) << "the method returns its result as well";
    return result;
  }
  std::int32_t remove(platform::dispatch_client& c, const std::string& name) {
    std::int32_t result = -1;
    EXPECT_TRUE(c.call("RemoveServer", name, Variant::ref(result)).ok());
    return result;
  }
  std::string list(platform::dispatch_client& c) {
    std::string text = "stale";
    const platform::call_result r = c.call("GetServerList", Variant::ref(text));
    EXPECT_EQ(r.value.long_or(-1), 0);
    return text;
  }
  error_record last_error(platform::dispatch_client& c) {
    error_record e;
    EXPECT_EQ(c.call("GetLastErr", Variant::ref(e.number), Variant::ref(e.description), Variant::ref(e.source))
                  .value.long_or(-1),
              0);
    return e;
  }

  platform::testing::scoped_registry_dir registry_;
};

TEST_F(ServerCollectionTest, KeepsServersInTheRegistryInTheOrderAdded) {
  platform::dispatch_client c = make();
  EXPECT_EQ(list(c), "") << "an empty collection before the first AddServer";
  EXPECT_EQ(last_error(c).number, 0);
  EXPECT_EQ(add(c, "store-2", "back office"), 0);
  EXPECT_EQ(add(c, "store-1:9200", "till 1"), 0);
  EXPECT_EQ(list(c), std::string("store-2\0store-1:9200\0", 21));

  // Another object (another client) sees the same list: it lives in the registry.
  platform::dispatch_client other = make();
  EXPECT_EQ(list(other), std::string("store-2\0store-1:9200\0", 21));
  std::string info;
  EXPECT_EQ(other.call("GetInfo", Variant::ref(info)).value.long_or(-1), 0);
  EXPECT_EQ(info, "Main server " + monitor::remote::local_host_name() + " (2 servers)");

  // Removal ignores case, as server names do.
  EXPECT_EQ(remove(other, "STORE-2"), 0);
  EXPECT_EQ(list(c), std::string("store-1:9200\0", 13));
}

TEST_F(ServerCollectionTest, RefusesDuplicatesAndUnknownServersWithAClearRecord) {
  platform::dispatch_client c = make();
  ASSERT_EQ(add(c, "till-1", "first"), 0);
  EXPECT_EQ(add(c, "TILL-1", "second"), static_cast<std::int32_t>(0x800700B7u));
  error_record e = last_error(c);
  EXPECT_EQ(e.number, static_cast<std::int32_t>(0x800700B7u));
  EXPECT_EQ(e.description, "The server TILL-1 is already in the list.");
  EXPECT_EQ(e.source, "QuorelMainServer.ServerCollection");
  EXPECT_EQ(list(c), std::string("till-1\0", 7)) << "the duplicate left the list as it was";

  EXPECT_EQ(remove(c, "till-9"), static_cast<std::int32_t>(0x80070002u));
  EXPECT_EQ(last_error(c).description, "The server till-9 is not in the list.");
  EXPECT_EQ(list(c), std::string("till-1\0", 7));
}

TEST_F(ServerCollectionTest, RefusesNamesThatAreNoHostNames) {
  struct row {
    const char* why;
    std::string name;
  };
  const row rows[] = {
      {"empty", ""},
      {"a blank", "till 1"},
      {"a backslash would nest registry keys", "till\\1"},
      {"a slash", "till/1"},
      {"an equals sign", "till=1"},
      {"a NUL would split the list", std::string("till\0x", 6)},
      {"longer than a host name", std::string(256, 'a')},
  };
  platform::dispatch_client c = make();
  for (const row& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_EQ(add(c, r.name), platform::kEInvalidArg);
    EXPECT_EQ(last_error(c).number, platform::kEInvalidArg);
    EXPECT_EQ(remove(c, r.name), platform::kEInvalidArg);
  }
  EXPECT_EQ(list(c), "");
}

}  // namespace
