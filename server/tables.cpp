#include "server/tables.h"

#include <string.h>

namespace qarn::server {
namespace {

struct ErrorEntry {
  int32_t code;
  const char* text;
};

const ErrorEntry kErrors[] = {
    {kErrNone, "no error"},
    {kErrNotInitialised, "the driver is not initialised: send Init first"},
    {kErrUnknownRequest, "unknown request"},
    {kErrBadArgument, "bad argument"},
    {kErrUnknownTag, "unknown tag"},
    {kErrUnknownFilter, "unknown filter"},
    {kErrDocumentCall, "the document call failed"},
    {kErrRequestTooLong, "the request is too long"},
    {kErrTooManyFilters, "too many filters"},
};

const TagEntry kTags[] = {
    {1, "QARN_RET"}, {2, "boolVal"},   {3, "stringVal"},   {4, "intVal"},   {5, "document"}, {6, "page"},
    {7, "seal"},     {8, "signature"}, {9, "certificate"}, {10, "printer"}, {11, "font"},    {12, "profile"},
};

const char* const kFilterKinds[] = {
    "Grayscale", "Watermark", "Redaction", "Compression", "SignatureVerification",
};

}  // namespace

const char* ErrorText(int32_t code) {
  for (const ErrorEntry& entry : kErrors) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

const TagEntry* FindTagById(int32_t id) {
  for (const TagEntry& tag : kTags) {
    if (tag.id == id) return &tag;
  }
  return nullptr;
}

const TagEntry* FindTagByName(const char* name) {
  for (const TagEntry& tag : kTags) {
    if (strcmp(tag.name, name) == 0) return &tag;
  }
  return nullptr;
}

const char* FilterKindName(uint32_t factory) {
  return kFilterKinds[factory % (sizeof kFilterKinds / sizeof kFilterKinds[0])];
}

}  // namespace qarn::server
