// The Windows CE version the system runs on, as the system report read it
// (GetVersionEx); all zero until that report. The HTTP backend chooses its WinSock by it.
#pragma once

#include "platform/types.h"

namespace quorvel {

extern ce::OSVERSIONINFOW osVersion;

}  // namespace quorvel
