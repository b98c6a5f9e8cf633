// The colour printer, line display and cash drawer service objects as far as this build has
// them: registered and creatable, but OpenService answers OPOS_E_NOSERVICE (104) because their
// devices are not driven yet.
#pragma once

#include "platform/com.h"

namespace devsvc {

// Creators for the server's class rows.
platform::hresult CreatePendingColorPrinter(const platform::guid& iid, void** out);
platform::hresult CreatePendingLineDisplay(const platform::guid& iid, void** out);
platform::hresult CreatePendingCashDrawer(const platform::guid& iid, void** out);

}  // namespace devsvc
