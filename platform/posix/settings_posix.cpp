// The server settings, read from a Name=Value text file.

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <memory>

#include "platform/platform.h"

namespace qarn::os {
namespace {

constexpr char kDefaultConfigPath[] = "/etc/qarn/qarn_svr.conf";

char* Trim(char* text) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  char* end = text + strlen(text);
  while (end > text && isspace(static_cast<unsigned char>(end[-1]))) --end;
  *end = '\0';
  return text;
}

// Decimal, or hexadecimal after "0x"; the whole text must be the number and
// it must fit 32 bits.
bool ParseUnsigned32(const char* text, uint32_t* value) {
  int base = 10;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text += 2;
  }
  uint64_t number = 0;
  const char* digit = text;
  for (; *digit != '\0'; ++digit) {
    const int c = static_cast<unsigned char>(*digit);
    int digit_value;
    if (isdigit(c)) {
      digit_value = c - '0';
    } else if (base == 16 && isxdigit(c)) {
      digit_value = tolower(c) - 'a' + 10;
    } else {
      return false;
    }
    number = number * base + digit_value;
    if (number > 0xFFFFFFFFu) return false;
  }
  if (digit == text) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

}  // namespace

// The name is compared without regard to case, as registry value names are.
// The first line of that name decides.
uint32_t ReadNumberSetting(const char* name, uint32_t* value) {
  const char* path = EnvironmentValue("QARN_CONFIG");
  if (path == nullptr || path[0] == '\0') path = kDefaultConfigPath;
  std::unique_ptr<FILE, FileCloser> file(fopen(path, "re"));
  if (!file) return kErrorFileNotFound;

  char* line = nullptr;
  size_t capacity = 0;
  uint32_t result = kErrorFileNotFound;
  while (getline(&line, &capacity, file.get()) >= 0) {
    char* equals = strchr(line, '=');
    if (equals == nullptr) continue;
    *equals = '\0';
    if (strcasecmp(Trim(line), name) != 0) continue;
    result = ParseUnsigned32(Trim(equals + 1), value) ? kErrorSuccess : kErrorInvalidParameter;
    break;
  }
  free(line);
  return result;
}

}  // namespace qarn::os
