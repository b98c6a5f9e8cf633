// Names of this machine on the network: the computer name and the user's domain, as the
// utilities show them at the root of their printer tree.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The host name of this machine ("localhost" when it has none).
std::string computer_name();

// The user's domain: the environment variable USERDOMAIN when set, else the host's DNS domain
// (the host name's part after its first dot, else the "domain" or first "search" entry of
// /etc/resolv.conf), else the computer name.
std::string user_domain();

// The same decision from its inputs: USERDOMAIN (null when unset), the host name and the text
// of resolv.conf.
std::string user_domain_from(const char* env_value, std::string_view host_name, std::string_view resolv_conf);

}  // namespace platform
