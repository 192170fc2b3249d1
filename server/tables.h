#pragma once
// The stand-in server's data: driver error codes with their texts, the tags
// it knows, and the kinds of filter it can create.

#include <stddef.h>
#include <stdint.h>

namespace qarn::server {

enum DriverError : int32_t {
  kErrNone = 0,
  kErrNotInitialised = 1,
  kErrUnknownRequest = 2,
  kErrBadArgument = 3,
  kErrUnknownTag = 4,
  kErrUnknownFilter = 5,
  kErrDocumentCall = 6,
  kErrRequestTooLong = 7,
  kErrTooManyFilters = 8,
};

// The text of a driver error code, or NULL for a code the server does not use.
const char* ErrorText(int32_t code);

struct TagEntry {
  int32_t id;
  const char* name;
};
// NULL when the tag is unknown.
const TagEntry* FindTagById(int32_t id);
const TagEntry* FindTagByName(const char* name);

// The name of the filter kind chosen by a factory value.
const char* FilterKindName(uint32_t factory);

}  // namespace qarn::server
