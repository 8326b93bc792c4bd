// A Win32 event object, owned like any other handle.
#pragma once

#include "WnHandle.h"

#include <stdint.h>

class WnEvent : public WnHandle {
public:
  // Replaces a handle already held with a new unnamed manual-reset event, not signalled.
  // 0, or the Win32 error of CreateEventW; on failure the object is left empty.
  uint32_t create();
};
