// The production remote creator: in-process creation for this computer, and for another server
// the worker QuorelWorker.CreateObj driven by name with its OnComplete event (a worker class
// registered in this process stands for the outside program), and a clear error without one.
#include <gtest/gtest.h>

#include "link_fixture.h"
#include "platform/dispatch_table.h"
#include "utilities/browser.h"

namespace utilities_test {
namespace {

using platform::Variant;

// A worker that creates the object in-process and completes when the test says so.
class test_worker final : public platform::dispatch_object<test_worker, platform::connection_point_impl> {
 public:
  static inline test_worker* last = nullptr;
  test_worker() { last = this; }
  ~test_worker() {
    if (last == this) last = nullptr;
  }
  static std::span<const platform::dispatch_member<test_worker>> dispatch_members() {
    static constexpr platform::dispatch_member<test_worker> kMembers[] = {
        platform::dispatch_method<&test_worker::CreateObject>("CreateObject", 1),
        platform::dispatch_method<&test_worker::GetObject>("GetObject", 2),
        platform::dispatch_method<&test_worker::GetLastErr>("GetLastErr", 3),
    };
    return kMembers;
  }
  std::int32_t CreateObject(const std::string& prog_id, const std::string& server) {
    requested = prog_id + "@" + server;
    if (server == "refusing") return 0;  // started; fails at completion
    platform::create_instance(prog_id, object);
    return 0;
  }
  Variant GetObject() { return object ? Variant(object) : Variant(platform::com_ptr<platform::dispatch>()); }
  std::int32_t GetLastErr(std::int32_t& number, std::string& description, std::string& source) {
    number = static_cast<std::int32_t>(0x800706BAu);
    description = "The server refused the call.";
    source = "QuorelWorker.CreateObj";
    return 0;
  }
  void complete() { events().fire(1); }

  std::string requested;
  platform::com_ptr<platform::dispatch> object;
};

constexpr platform::guid kTestWorkerClsid = platform::guid::literal("{6B1E0F55-1E64-4C55-9C2B-5C1A7F3E2D10}");

class RemoteCreatorTest : public LinkTest {};

TEST_F(RemoteCreatorTest, ThisComputerGetsTheObjectAtOnce) {
  for (const char* host : {"", "localhost", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    auto creator = utilities::make_worker_creator();
    EXPECT_EQ(creator->start(utilities::kServerMonitorProgId, host), 0);
    EXPECT_TRUE(creator->complete());
    EXPECT_TRUE(creator->take_object());
  }
  auto unknown = utilities::make_worker_creator();
  unknown->start("No.Such.Class", "localhost");
  EXPECT_FALSE(unknown->take_object());
  EXPECT_NE(unknown->last_error().Description.find("No.Such.Class"), std::string::npos);
}

TEST_F(RemoteCreatorTest, AnotherServerWithoutTheWorkerIsAClearError) {
  auto creator = utilities::make_worker_creator();
  EXPECT_NE(creator->start(utilities::kServerMonitorProgId, "shop2.invalid"), 0);
  EXPECT_TRUE(creator->complete());
  EXPECT_FALSE(creator->take_object());
  const utilities::ErrorRecord e = creator->last_error();
  EXPECT_NE(e.Number, 0);
  EXPECT_NE(e.Description.find("QuorelWorker.CreateObj"), std::string::npos) << e.Description;
}

TEST_F(RemoteCreatorTest, AnotherServerGoesThroughTheWorkerAndItsEvent) {
  std::uint32_t cookie = 0;
  const platform::com_ptr<platform::class_factory> factory =
      platform::make_class_factory(&platform::create_object<test_worker>);
  ASSERT_EQ(platform::register_class_object(kTestWorkerClsid, factory.get(), cookie, utilities::kRemoteCreatorProgId),
            platform::kSOk);
  {
    auto creator = utilities::make_worker_creator();
    ASSERT_EQ(creator->start(utilities::kServerMonitorProgId, "shop2"), 0);
    ASSERT_NE(test_worker::last, nullptr);
    EXPECT_EQ(test_worker::last->requested, "QuorelServer.Monitor@shop2");
    EXPECT_FALSE(creator->complete());  // until OnComplete arrives
    test_worker::last->complete();
    EXPECT_TRUE(creator->complete());
    EXPECT_TRUE(creator->take_object());
  }
  {
    auto creator = utilities::make_worker_creator();
    ASSERT_EQ(creator->start(utilities::kServerMonitorProgId, "refusing"), 0);
    test_worker::last->complete();
    EXPECT_TRUE(creator->complete());
    EXPECT_FALSE(creator->take_object());
    EXPECT_EQ(creator->last_error().Description, "The server refused the call.");
  }
  platform::revoke_class_object(cookie);
}

}  // namespace
}  // namespace utilities_test
