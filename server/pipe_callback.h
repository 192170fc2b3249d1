#pragma once
// The server's callback channel: a callback message goes to the client over
// the session's pipe, and the client's same-sized answer comes back over it.

#include "qarnplus/callback.h"
#include "qarnplus/wintypes.h"

namespace qarn::server {

class PipeCallback : public c_QARNSVR_Callback {
 public:
  explicit PipeCallback(HANDLE pipe) : pipe_(pipe) {}
  int Forward(void* message, unsigned size) override;

 private:
  HANDLE pipe_;
};

}  // namespace qarn::server
