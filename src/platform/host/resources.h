// The running module's resources on the host: the embedded .res file, read once,
// and the images the resource calls hand out as handles.
#pragma once

#include <cstddef>

#include "platform/resources.h"
#include "sim/handheld.h"
#include "sim/resources/dib_image.h"
#include "sim/resources/resource_file.h"

namespace ce::host {

// The module's resource file; empty when its bytes are malformed.
const sim::ResourceFile& moduleResourceFile();

// How many bytes of a resource's data lie from `data` to the end of that resource:
// what a template reader may read from a pointer LoadResource gave. 0 when `data` is
// not inside a resource of the module.
std::size_t resourceBytesFrom(const void* data);

// What LoadBitmapW and LoadIconW return a handle to; CloseHandle releases it.
struct ImageObject : sim::HandleObject {
    sim::DibImage image;
};

// The image behind a bitmap or icon handle, or null.
const sim::DibImage* imageOf(void* handle);

}  // namespace ce::host
