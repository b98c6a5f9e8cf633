// The user's domain: the environment first, then the host's DNS domain, then the host's name.
#include "platform/host_names.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(NetTest, UserDomainComesFromTheEnvironmentThenTheHostThenItsName) {
  struct row {
    const char* why;
    const char* env;
    const char* host;
    const char* resolv;
    const char* domain;
  };
  const row rows[] = {
      {"USERDOMAIN wins", "STORE", "till1.shop.example", "domain other.example\n", "STORE"},
      {"an empty USERDOMAIN counts as unset", "", "till1.shop.example", "", "shop.example"},
      {"the host name's domain", nullptr, "till1.shop.example.", "domain other.example\n", "shop.example"},
      {"resolv.conf's domain", nullptr, "till1", "nameserver 10.0.0.1\ndomain shop.example\nsearch x.example\n",
       "shop.example"},
      {"resolv.conf's first search entry", nullptr, "till1", "search shop.example other.example\n", "shop.example"},
      {"a keyword needs its word", nullptr, "till1", "domain\nsearch\n", "till1"},
      {"the computer name last", nullptr, "till1", "nameserver 10.0.0.1\n", "till1"},
      {"a host name ending in a dot has no domain", nullptr, "till1.", "", "till1"},
      {"no name at all", nullptr, "", "", "localhost"},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.why);
    EXPECT_EQ(platform::user_domain_from(r.env, r.host, r.resolv), r.domain);
  }
}

TEST(NetTest, UserDomainReadsTheEnvironmentVariable) {
  const char* previous = std::getenv("USERDOMAIN");
  const std::string saved = previous != nullptr ? previous : "";
  ::setenv("USERDOMAIN", "KORVANE-STORE", 1);
  EXPECT_EQ(platform::user_domain(), "KORVANE-STORE");
  ::unsetenv("USERDOMAIN");
  EXPECT_FALSE(platform::user_domain().empty());
  if (previous != nullptr) ::setenv("USERDOMAIN", saved.c_str(), 1);
  EXPECT_FALSE(platform::computer_name().empty());
}

}  // namespace
