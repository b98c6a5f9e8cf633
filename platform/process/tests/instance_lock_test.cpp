// Tests of the single-instance lock.
#include "platform/instance_lock.h"

#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/testing/temp_dir.h"

namespace platform {
namespace {

TEST(InstanceLock, SecondHolderIsRefusedUntilTheFirstGoesAway) {
  testing::temp_dir dir;
  const auto locks = dir / "locks";
  {
    instance_lock first = instance_lock::try_acquire(locks, "Launcher");
    ASSERT_TRUE(first.held());
    std::ifstream file(locks / "Launcher.lock");
    std::string holder;
    std::getline(file, holder);
    EXPECT_EQ(holder, std::to_string(getpid()));

    // A separate open of the same file stands for another process: flock is per open file.
    instance_lock second = instance_lock::try_acquire(locks, "Launcher");
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.busy());

    instance_lock other_name = instance_lock::try_acquire(locks, "Portpick");
    EXPECT_TRUE(other_name.held());

    // Moving keeps the lock held.
    instance_lock moved = std::move(first);
    EXPECT_TRUE(moved.held());
    EXPECT_FALSE(instance_lock::try_acquire(locks, "Launcher").held());
  }
  instance_lock again = instance_lock::try_acquire(locks, "Launcher");
  EXPECT_TRUE(again.held());
}

TEST(InstanceLock, UnusableFolderIsNotBusy) {
  testing::temp_dir dir;
  instance_lock lock = instance_lock::try_acquire(dir / "missing" / "deeper", "Launcher");
  EXPECT_FALSE(lock.held());
  EXPECT_FALSE(lock.busy());
}

TEST(InstanceLock, DefaultFolderFollowsTheRuntimeFolder) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
  EXPECT_EQ(instance_lock::default_dir(), std::filesystem::path("/run/user/4242/poskit"));
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_NE(instance_lock::default_dir().filename().string().find("poskit-"), std::string::npos);
  if (old != nullptr) {
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  }
}

}  // namespace
}  // namespace platform
