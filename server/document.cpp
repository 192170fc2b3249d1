// Placeholder until the document interface lands: every call is refused.
#include "server/document.h"

#include <stdio.h>

namespace qarn::server {

bool PerformDocumentCall(const char*, const char*, char* reply, size_t capacity) {
  snprintf(reply, capacity,
           "<QARN_RET>\n\t<boolVal val=\"false\" name=\"SUCCESS\"/>\n\t<stringVal val=\"no document "
           "interface\" name=\"error\"/>\n</QARN_RET>");
  return false;
}

}  // namespace qarn::server
