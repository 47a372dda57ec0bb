// The module's resource section, as LoadStringW and the dialog code find it.
#pragma once

#include "platform/types.h"

namespace ce {

struct StringResource {
    UINT id;
    LPCWSTR text;
};

// Defined by the application's resources (ui/resources/); ends with a null text.
extern const StringResource moduleStringTable[];

}  // namespace ce
