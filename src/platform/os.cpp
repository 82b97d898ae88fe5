#include "platform/os.h"

namespace os {

void UniqueHandle::reset(RawHandle h) {
  if (valid()) {
    // Closing must not disturb the error code a caller is about to read.
    const std::uint32_t error = GetLastError();
    CloseHandle(handle_);
    SetLastError(error);
  }
  handle_ = h;
}

}  // namespace os
