#pragma once
// One document call as the qarn client makes it: the record built from
// settings, its package of shared blocks, the "call" request, and what the
// server's results did to each block once the package was destroyed.

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/record_builder.h"
#include "transport/record_rules.h"

namespace qarn::tool {

// What `qarn call` was asked to call: an API code, or the USB printer record,
// which has no code and is packed through its own constructor.
struct CallTarget {
  const transport::RecordRule* rule = nullptr;
  uint32_t code = 0;  // 0 for the USB printer record
};

// "8", "0x8", a record type name ("SAPGetErrMes1": its first code) or "usb".
bool ResolveTarget(const std::string& text, CallTarget* target);

struct ByteRange {
  uint32_t first;
  uint32_t last;
};

struct BlockOutcome {
  std::string label;
  uint32_t size = 0;
  bool merge = false;              // anything comes back at all
  std::vector<ByteRange> mask;     // with merge: empty = the whole block
  std::vector<ByteRange> changed;  // bytes that differ after the call
  std::vector<uint8_t> after;      // the block's bytes after the call
};

struct CallOutcome {
  std::string request;  // the request text sent
  std::string reply;    // the reply text as the server wrote it
  bool answered = false;
  bool succeeded = false;
  std::vector<BlockOutcome> blocks;  // in the package's order: buffers, record last
  std::vector<std::string> unsent;   // buffers the package made no block for
};

// Builds the package over `builder`'s record, sends the call ("usb <name>"
// for the USB printer record), destroys the package and compares every
// block with its bytes before the call. The session must be initialised for Invoke.
// False with a one-line reason when the package could not be made.
bool PerformDocumentCall(void* session, const CallTarget& target, RecordBuilder& builder,
                         CallOutcome* outcome, std::string* error);

// "SUCCESS=true, blocks=3" from a QARN_RET text; the raw text if it has no values.
std::string ReadableReply(const std::string& reply);

// The value named `name` in a QARN_RET text (unescaped), or "".
std::string ReplyValue(const std::string& reply, const std::string& name);

// False when the text stops inside an element: the server cut it to fit the
// reply slot.
bool ReplyIsComplete(const std::string& reply);

// Whether `at` of this block came back through its write-back.
bool ComesBack(const BlockOutcome& block, uint32_t at);

// The full report of `qarn call`, and the one-line summary of `qarn demo`
// (which blocks came back in full, in part, or not at all).
void PrintCallReport(const CallTarget& target, const CallOutcome& outcome);
std::string SummariseCall(const CallOutcome& outcome);

}  // namespace qarn::tool
