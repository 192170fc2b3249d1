#pragma once
// The texts a server receives for one document call: the API code in
// decimal and the record's block name.
//
// Input: the code text, a zero byte, the block name. The code's conversion
// must equal the C library's strtol in base 10 (a 32-bit long here), which
// reads leading white space and one sign, stops at the first non-digit and
// clamps at the range's ends. The server package is then built from both
// texts: a name that denotes no block must be refused with a system code,
// whatever characters it holds.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "qarnplus/legpack.h"
#include "transport/api_code_text.h"

namespace qarn::fuzz {

inline bool CodeTextAgreesWithStrtol(const std::string& code) {
  static_assert(sizeof(long) == 4, "the reference conversion is strtol of a 32-bit long");
  return transport::ParseApiCodeText(code.c_str()) ==
         static_cast<uint32_t>(strtol(code.c_str(), nullptr, 10));
}

inline void RunCodeTextInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t end = input.find('\0');
  const std::string code = input.substr(0, end);
  const std::string name = end == std::string::npos ? std::string("0") : input.substr(end + 1);

  if (!CodeTextAgreesWithStrtol(code)) {
    fprintf(stderr, "code text \"%s\": converted %u\n", code.c_str(),
            transport::ParseApiCodeText(code.c_str()));
    abort();
  }

  try {
    c_QARNPlus_Legpack server(name.c_str(), code.c_str());
    volatile void* local = server.Local();
    (void)local;
  } catch (unsigned long) {
    // The name denotes no block of this namespace.
  }
}

}  // namespace qarn::fuzz
