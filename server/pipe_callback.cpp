#include "server/pipe_callback.h"

#include <string.h>

#include "connection/message.h"
#include "platform/platform.h"

namespace qarn::server {

int PipeCallback::Forward(void* message, unsigned size) {
  if (size > msg::kSlotSize) return -1;
  if (os::PipeWrite(pipe_, message, size) != os::kErrorSuccess) return -1;
  char answer[msg::kSlotSize];
  uint32_t length = 0;
  if (os::PipeRead(pipe_, answer, sizeof answer, &length) != os::kErrorSuccess) return -1;
  // Anything but an answer of the same size is not an answer.
  if (length != size) return -1;
  memcpy(message, answer, size);
  return static_cast<int>(size);
}

}  // namespace qarn::server
