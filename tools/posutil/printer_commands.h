// posutil's printer commands: the browser's tree, identification and the status check.
#pragma once

#include <string>
#include <vector>

#include "posutil.h"

namespace posutil {

// printers [--json]: the servers and printers as the browser's tree.
int run_printers(const context& ctx, const std::vector<std::string>& args);
// identify PRINTER [--json]: the identification byte, model and brand.
int run_identify(const context& ctx, const std::vector<std::string>& args);
// status PRINTER: StatusCheck and its text.
int run_status(const context& ctx, const std::vector<std::string>& args);

}  // namespace posutil
