// Service objects not driven by this build yet: OpenService refuses with OPOS_E_NOSERVICE.
#include "server/pending_services.h"

#include <string>

#include "core/opos.h"
#include "platform/dispatch_table.h"

namespace devsvc {
namespace {

// A service object of class `Tag` whose only member is OpenService, at the dispatch id its full
// interface gives it, refusing every open.
template <class Tag>
class CPendingService final : public platform::dispatch_object<CPendingService<Tag>> {
 public:
  static std::span<const platform::dispatch_member<CPendingService>> dispatch_members() {
    static constexpr platform::dispatch_member<CPendingService> kMembers[] = {
        platform::dispatch_method<&CPendingService::OpenService>("OpenService", Tag::kOpenServiceDispid),
    };
    return kMembers;
  }

  std::int32_t OpenService(const std::string&, const std::string&, const platform::Variant&) {
    platform::set_error_info(std::string(Tag::kName) + " is not driven by this build of Devsvc");
    return OPOS_E_NOSERVICE;
  }
};

struct ColorPrinterTag {
  static constexpr long kOpenServiceDispid = 7;
  static constexpr const char* kName = "CVX40CPrinter";
};

}  // namespace

platform::hresult CreatePendingColorPrinter(const platform::guid& iid, void** out) {
  return platform::create_object<CPendingService<ColorPrinterTag>>(iid, out);
}

}  // namespace devsvc
