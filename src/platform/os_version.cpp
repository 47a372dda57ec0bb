// The Windows CE version record.
#include "platform/os_version.h"

namespace quorvel {

ce::OSVERSIONINFOW osVersion = {};

}  // namespace quorvel
