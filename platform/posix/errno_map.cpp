#include "platform/posix/errno_map.h"

#include <errno.h>

#include "platform/platform.h"

namespace qarn::os {
namespace {

struct ErrnoCode {
  int error_number;
  uint32_t code;
};

constexpr ErrnoCode kErrnoCodes[] = {
    {ENOENT, kErrorFileNotFound},    {ECONNREFUSED, kErrorFileNotFound}, {EAGAIN, kErrorPipeBusy},
    {EWOULDBLOCK, kErrorPipeBusy},   {EPIPE, kErrorBrokenPipe},          {ECONNRESET, kErrorBrokenPipe},
    {EACCES, kErrorAccessDenied},    {EPERM, kErrorAccessDenied},        {ENOMEM, kErrorNotEnoughMemory},
    {ENOSPC, kErrorNotEnoughMemory}, {EEXIST, kErrorAlreadyExists},      {EINVAL, kErrorInvalidParameter},
    {ETIMEDOUT, kErrorTimeout},
};

}  // namespace

uint32_t ErrorFromErrno(int error_number) {
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.error_number == error_number) return entry.code;
  }
  return kErrorGenFailure;
}

}  // namespace qarn::os
