// The verbs of the "Invoke" grammar, one table row each. server/README.md
// documents them.
#include "server/verbs.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/platform.h"
#include "qarnplus/callback.h"
#include "server/document.h"
#include "server/ret_writer.h"
#include "server/tables.h"
#include "server/version.h"
#include "server/words.h"

namespace qarn::server {
namespace {

// What a verb produced: success, or a driver error code; the verb writes its
// own values into the reply.
struct Outcome {
  int32_t error;
  std::string detail;  // replaces the error table's text when not empty
};

const Outcome kOk = {kErrNone, ""};

Outcome Bad(const char* why) { return {kErrBadArgument, why}; }

using VerbFunction = Outcome (*)(ServerState& state, const Words& words, RetWriter& ret);

struct Verb {
  const char* name;
  const char* usage;
  bool needs_init;
  VerbFunction run;
};

Outcome Help(ServerState&, const Words&, RetWriter& ret);

Outcome Version(ServerState&, const Words&, RetWriter& ret) {
  ret.Int("version", kServerVersion);
  return kOk;
}

Outcome Status(ServerState& state, const Words&, RetWriter& ret) {
  ret.Int("pid", os::CurrentProcessId());
  ret.Int("option", state.launch.option);
  ret.String("serverDir", state.launch.server_dir);
  ret.String("suffix", state.launch.suffix);
  ret.String("appDir", state.launch.app_dir);
  ret.String("driver", state.driver_ready ? "initialised" : "clean");
  return kOk;
}

Outcome Echo(ServerState&, const Words& words, RetWriter& ret) {
  ret.String("echo", words.rest(1).c_str());
  return kOk;
}

Outcome Fail(ServerState&, const Words& words, RetWriter&) {
  int32_t code = 0;
  if (!ParseInt32(words.at(1), &code)) return Bad("fail needs an error code");
  return {code, ""};
}

Outcome Tag(ServerState&, const Words& words, RetWriter& ret) {
  int32_t id = 0;
  const TagEntry* tag = ParseInt32(words.at(1), &id) ? FindTagById(id) : FindTagByName(words.at(1).c_str());
  if (tag == nullptr) return {kErrUnknownTag, ""};
  ret.Int("id", tag->id);
  ret.String("name", tag->name);
  return kOk;
}

Outcome Filters(ServerState& state, const Words&, RetWriter& ret) {
  ret.Int("count", static_cast<long long>(state.filters.size()));
  for (const auto& filter : state.filters) ret.String("filter", filter.second);
  return kOk;
}

// ---- callbacks into the client ---------------------------------------------
// The client names its own function by address; the library's forwarders
// pack that address into the callback message and the client calls it.

bool ParseAddress(const std::string& word, uint32_t* address) {
  return ParseUInt32(word, address) && *address != 0;
}

bool ParseRect(const Words& words, size_t first, RECT* rect) {
  int32_t v[4];
  for (size_t i = 0; i < 4; ++i) {
    if (!ParseInt32(words.at(first + i), &v[i])) return false;
  }
  *rect = RECT{v[0], v[1], v[2], v[3]};
  return true;
}

// callback passwd <address> <document name...>
Outcome CallbackPasswd(const Words& words, uint32_t address, RetWriter& ret) {
  const std::string document = words.rest(3);
  auto forwarder = c_QARNPlus_Callback::RegGetDocPasswd(
      reinterpret_cast<c_QARNPlus_Callback::PfnGetDocPasswd>(static_cast<uintptr_t>(address)));
  unsigned char password[256] = {};
  unsigned int length = 0;
  const int result = forwarder(password, &length, document.c_str());
  ret.Int("result", result);
  ret.Int("length", length);
  ret.Bytes("password", password, length < sizeof password ? length : sizeof password);
  return kOk;
}

// callback text <address> <n> <left> <top> <right> <bottom> <value>
Outcome CallbackText(const Words& words, uint32_t address, RetWriter& ret) {
  uint32_t n = 0;
  RECT rect;
  int32_t value = 0;
  if (!ParseUInt32(words.at(3), &n) || n > 0xFFFF || !ParseRect(words, 4, &rect) ||
      !ParseInt32(words.at(8), &value)) {
    return Bad("usage: callback text <address> <n> <left> <top> <right> <bottom> <value>");
  }
  auto forwarder = c_QARNPlus_Callback::RegEnumSelectedText(
      reinterpret_cast<c_QARNPlus_Callback::PfnEnumSelectedText>(static_cast<uintptr_t>(address)));
  ret.Int("result", forwarder(static_cast<unsigned short>(n), rect, value));
  return kOk;
}

// callback photo <address> <context> <left> <top> <right> <bottom> <number> <text...>
Outcome CallbackPhoto(const Words& words, uint32_t address, RetWriter& ret) {
  uint32_t context = 0;
  uint32_t number = 0;
  RECT rect;
  if (!ParseUInt32(words.at(3), &context) || !ParseRect(words, 4, &rect) ||
      !ParseUInt32(words.at(8), &number)) {
    return Bad("usage: callback photo <address> <context> <left> <top> <right> <bottom> <number> <text>");
  }
  auto forwarder = c_QARNPlus_Callback::RegDspAbsentPhoto(
      reinterpret_cast<c_QARNPlus_Callback::PfnDspAbsentPhoto>(static_cast<uintptr_t>(address)));
  const std::string text = words.rest(9);
  const bool shown =
      forwarder(reinterpret_cast<void*>(static_cast<uintptr_t>(context)), &rect, number, text.c_str());
  ret.String("result", shown ? "true" : "false");
  // The forwarder leaves the caller's rectangle as it was.
  char corners[64];
  snprintf(corners, sizeof corners, "%d %d %d %d", static_cast<int>(rect.left), static_cast<int>(rect.top),
           static_cast<int>(rect.right), static_cast<int>(rect.bottom));
  ret.String("rect", corners);
  return kOk;
}

struct CallbackKind {
  const char* name;
  Outcome (*run)(const Words& words, uint32_t address, RetWriter& ret);
};

const CallbackKind kCallbackKinds[] = {
    {"passwd", CallbackPasswd},
    {"text", CallbackText},
    {"photo", CallbackPhoto},
};

Outcome Callback(ServerState&, const Words& words, RetWriter& ret) {
  uint32_t address = 0;
  if (!ParseAddress(words.at(2), &address))
    return Bad("callback needs a kind and a non-zero function address");
  for (const CallbackKind& kind : kCallbackKinds) {
    if (words.at(1) == kind.name) return kind.run(words, address, ret);
  }
  return Bad("callback kinds: passwd, text, photo");
}

// The document verbs answer with the document interface's own QARN_RET
// text (see RunDocumentVerb).
Outcome Call(ServerState&, const Words&, RetWriter&) { return kOk; }
Outcome Usb(ServerState&, const Words&, RetWriter&) { return kOk; }

const Verb kVerbs[] = {
    {"help", "help", false, Help},
    {"version", "version", false, Version},
    {"status", "status", false, Status},
    {"echo", "echo <text>", true, Echo},
    {"fail", "fail <error code>", true, Fail},
    {"tag", "tag <number|name>", true, Tag},
    {"filters", "filters", true, Filters},
    {"callback", "callback passwd|text|photo <address> <arguments...>", true, Callback},
    {"call", "call <record block name> <api code>", true, Call},
    {"usb", "usb <record block name>", true, Usb},
};

Outcome Help(ServerState&, const Words&, RetWriter& ret) {
  for (const Verb& verb : kVerbs) ret.String("usage", verb.usage);
  return kOk;
}

const Verb* FindVerb(const std::string& name) {
  for (const Verb& verb : kVerbs) {
    if (name == verb.name) return &verb;
  }
  return nullptr;
}

void WriteFailure(int32_t error, const std::string& detail, char* out, size_t room) {
  RetWriter ret(out, room);
  ret.Success(false);
  const char* text = ErrorText(error);
  ret.String("error", !detail.empty() ? detail.c_str() : text != nullptr ? text : "error");
  ret.Int("code", error);
  ret.Finish();
}

bool IsDocumentVerb(const Verb& verb) { return verb.run == Call || verb.run == Usb; }

// Writes the document interface's reply into `out` and sets the last error;
// false, with the refusal in `refused`, when the words do not fit the verb.
bool RunDocumentVerb(ServerState& state, const Verb& verb, const Words& words, char* out, size_t room,
                     Outcome* refused) {
  bool ok = false;
  int32_t printer = 0;
  if (verb.run == Call && words.count() == 3) {
    ok = PerformDocumentCall(words.at(1).c_str(), words.at(2).c_str(), out, room);
  } else if (verb.run == Usb && words.count() == 2 && ParseBlockName(words.at(1), &printer)) {
    ok = PerformUsbPrinterCall(printer, out, room);
  } else {
    *refused = {kErrBadArgument, std::string("usage: ") + verb.usage};
    return false;
  }
  state.last_error = ok ? kErrNone : kErrDocumentCall;
  return true;
}

}  // namespace

void RunRequest(ServerState& state, const char* text, char* out, size_t room) {
  const Words words(text);
  const Verb* verb = FindVerb(words.at(0));
  Outcome outcome = kOk;
  if (verb == nullptr) {
    outcome = {kErrUnknownRequest, "unknown request; try: help"};
  } else if (verb->needs_init && !state.driver_ready) {
    outcome = {kErrNotInitialised, ""};
  } else if (IsDocumentVerb(*verb)) {
    if (RunDocumentVerb(state, *verb, words, out, room, &outcome)) return;
  } else {
    RetWriter ret(out, room);
    ret.Success(true);
    outcome = verb->run(state, words, ret);
    if (outcome.error == kErrNone) {
      ret.Finish();
      state.last_error = kErrNone;
      return;
    }
  }
  state.last_error = outcome.error;
  WriteFailure(outcome.error, outcome.detail, out, room);
}

}  // namespace qarn::server
