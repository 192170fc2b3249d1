#include "platform/posix/process_identity.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace qarn::os::posix {
namespace {

// Decimal digits of `value` into `out` (room for 20); returns the count.
size_t FormatDecimal(uint64_t value, char* out) {
  char digits[20];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
  return count;
}

// Reads digits at `*p`; false when there are none or they overflow.
bool TakeNumber(const char** p, uint64_t* value) {
  const char* start = *p;
  uint64_t result = 0;
  for (; **p >= '0' && **p <= '9'; ++*p) {
    const uint64_t digit = static_cast<uint64_t>(**p - '0');
    if (result > (UINT64_MAX - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return *p != start;
}

}  // namespace

bool ProcessStartTime(pid_t pid, uint64_t* start) {
  if (pid < 0) return false;
  if (pid == 0) pid = getpid();
  // Every process, this one included, reads "<pid>/stat" relative to an open
  // /proc, never "/proc/self/stat" or "/proc/<own pid>/stat": qemu-user
  // answers those two absolute paths itself, with a start time of its own
  // making that differs by a few ticks from what the kernel shows everyone
  // else, so an emulated process would not know its own identity.
  char path[16];
  const size_t length = FormatDecimal(static_cast<uint64_t>(pid), path);
  const char tail[] = "/stat";
  for (size_t i = 0; i < sizeof tail; ++i) path[length + i] = tail[i];
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return false;
  const int fd = openat(proc, path, O_RDONLY | O_CLOEXEC);
  close(proc);
  if (fd < 0) return false;
  // pid (comm) state ppid ... starttime is field 22. The command name may
  // hold blanks and parentheses, so the fields are counted from its last ')'.
  char text[1024];
  ssize_t got;
  do {
    got = read(fd, text, sizeof text - 1);
  } while (got < 0 && errno == EINTR);
  close(fd);
  if (got <= 0) return false;
  text[got] = '\0';
  const char* p = nullptr;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == ')') p = c;
  }
  if (p == nullptr || p[1] != ' ') return false;
  p += 2;
  if (*p == 'Z' || *p == 'X' || *p == 'x') return false;  // ended, not yet reaped
  for (int field = 3; field < 22; ++field) {
    while (*p != ' ' && *p != '\0') ++p;
    if (*p++ != ' ') return false;
  }
  return TakeNumber(&p, start) && (*p == ' ' || *p == '\n' || *p == '\0');
}

void FormatOwnNamespace(char* out) {
  size_t length = FormatDecimal(static_cast<uint64_t>(getpid()), out);
  uint64_t start = 0;
  if (ProcessStartTime(0, &start)) {
    out[length++] = '-';
    length += FormatDecimal(start, out + length);
  }
  out[length] = '\0';
}

size_t ParseProcessNamespace(const char* text, char end, pid_t* pid, uint64_t* start) {
  const char* p = text;
  uint64_t id = 0;
  if (!TakeNumber(&p, &id) || id == 0 || id > INT32_MAX || *p++ != '-') return 0;
  if (!TakeNumber(&p, start) || *p != end) return 0;
  *pid = static_cast<pid_t>(id);
  return static_cast<size_t>(p - text);
}

}  // namespace qarn::os::posix
