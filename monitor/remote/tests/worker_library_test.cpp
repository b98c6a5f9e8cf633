// The QuorelWorker server library as a program meets it: registered in the registry, its two
// classes created by ProgID, and a creation on this computer completed through the message loop.

#include <gtest/gtest.h>

#include <string>

#include "monitor/monitor.h"
#include "monitor/remote.h"
#include "platform/dispatch_table.h"
#include "platform/messages.h"
#include "platform/registry.h"
#include "platform/testing/server_library.h"
#include "platform/testing/temp_dir.h"

namespace {

using platform::Variant;

class completion_sink final : public platform::dispatch_object<completion_sink> {
 public:
  static std::span<const platform::dispatch_member<completion_sink>> dispatch_members() {
    static constexpr platform::dispatch_member<completion_sink> kMembers[] = {
        platform::dispatch_method<&completion_sink::OnComplete>("OnComplete", monitor::remote::kDispOnComplete),
    };
    return kMembers;
  }
  void OnComplete() { ++count; }
  int count = 0;
};

void register_library(const char* path) {
  std::string error;
  ASSERT_EQ(platform::testing::register_server_library(path, error), platform::kSOk) << error;
}

TEST(WorkerLibraryTest, CreatesBothClassesByProgIdAndCompletesALocalCreation) {
  platform::testing::scoped_registry_dir registry;
  register_library(QUOREL_WORKER_PATH);
  register_library(QUOREL_MONITOR_PATH);
  ASSERT_TRUE(platform::ensure_message_queue());

  platform::com_ptr<platform::dispatch> collection;
  ASSERT_EQ(platform::create_instance(monitor::remote::kServerCollectionProgId, collection), platform::kSOk)
      << platform::com_last_error();
  std::int32_t result = -1;
  ASSERT_TRUE(platform::call(collection.get(), "AddServer", "till-1", "", Variant::ref(result)).ok());
  EXPECT_EQ(result, 0);

  platform::com_ptr<platform::dispatch> creator;
  ASSERT_EQ(platform::create_instance(monitor::remote::kCreateObjProgId, creator), platform::kSOk)
      << platform::com_last_error();
  const auto sink = platform::make_object<completion_sink>();
  const auto point = creator.as<platform::connection_point>();
  ASSERT_TRUE(point);
  std::uint32_t cookie = 0;
  ASSERT_EQ(point->advise(sink.get(), cookie), platform::kSOk);
  ASSERT_EQ(platform::call(creator.get(), "CreateObject", monitor::kMonitorProgId, "localhost").value.long_or(-1), 0);
  for (int i = 0; i < 500 && sink->count == 0; ++i) platform::pump_messages_for(10);
  EXPECT_EQ(sink->count, 1);
  platform::com_ptr<platform::dispatch> created;
  platform::call(creator.get(), "GetObject").value.as_object(created);
  ASSERT_TRUE(created);
  EXPECT_FALSE(platform::call(created.get(), "GetServerName").value.string_or().empty());
  point->unadvise(cookie);
}

}  // namespace
