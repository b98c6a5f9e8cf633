// The colour printer service object as far as this build has it: registered and creatable,
// but OpenService answers OPOS_E_NOSERVICE (104) because its device is not driven yet.
#pragma once

#include "platform/com.h"

namespace devsvc {

// Creators for the server's class rows.
platform::hresult CreatePendingColorPrinter(const platform::guid& iid, void** out);

}  // namespace devsvc
