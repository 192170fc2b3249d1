#include "tools/client_callbacks.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "qarnplus/callback.h"
#include "server/words.h"
#include "tools/command.h"

namespace qarn::tool {
namespace {

int WINAPI AnswerPassword(unsigned char* password, unsigned int* length, const char* document) {
  static const char kPassword[] = "s3cret";
  printf("  [client] password asked for \"%s\", answering \"%s\"\n", document, kPassword);
  memcpy(password, kPassword, sizeof kPassword - 1);
  *length = sizeof kPassword - 1;
  return 1;
}

int ShowSelectedText(unsigned short n, RECT rect, long value) {
  printf("  [client] selected text #%u at (%ld,%ld)-(%ld,%ld), value %ld\n", n, static_cast<long>(rect.left),
         static_cast<long>(rect.top), static_cast<long>(rect.right), static_cast<long>(rect.bottom), value);
  return static_cast<int>(n) + 1;
}

bool ShowAbsentPhoto(void* context, RECT* rect, unsigned long number, const char* text) {
  printf("  [client] absent photo %lu \"%s\" in (%ld,%ld)-(%ld,%ld), context %#lx\n", number, text,
         static_cast<long>(rect->left), static_cast<long>(rect->top), static_cast<long>(rect->right),
         static_cast<long>(rect->bottom), static_cast<unsigned long>(reinterpret_cast<uintptr_t>(context)));
  return true;
}

template <typename Function>
uintptr_t AddressOf(Function function) {
  return reinterpret_cast<uintptr_t>(function);
}

struct ClientCallback {
  const char* kind;  // the server's word for what it calls
  const char* name;
  const char* arguments;
  uintptr_t address;
};

const ClientCallback kCallbacks[] = {
    {"passwd", "password", "DOCUMENT", AddressOf(&AnswerPassword)},
    {"text", "selected-text", "N LEFT TOP RIGHT BOTTOM VALUE", AddressOf(&ShowSelectedText)},
    {"photo", "absent-photo", "CONTEXT LEFT TOP RIGHT BOTTOM NUMBER TEXT", AddressOf(&ShowAbsentPhoto)},
};

}  // namespace

std::string CallbackList() {
  std::string list;
  for (const ClientCallback& callback : kCallbacks) {
    list +=
        std::string("    callback ") + callback.kind + " " + callback.name + " " + callback.arguments + "\n";
  }
  return list;
}

bool ResolveCallbackRequest(std::string* request, std::string* error) {
  const server::Words words(request->c_str());
  if (words.at(0) != "callback") return true;
  const std::string kind = words.at(1);
  for (const ClientCallback& callback : kCallbacks) {
    if (kind != callback.kind) continue;
    if (words.at(2) == callback.name) {
      const std::string arguments = words.rest(3);
      *request = "callback " + kind + " " + std::to_string(callback.address) +
                 (arguments.empty() ? "" : " " + arguments);
      return true;
    }
    *error = "callback " + kind + " takes this client's function \"" + callback.name + "\" (not \"" +
             words.at(2) + "\"): callback " + kind + " " + callback.name + " " + callback.arguments;
    return false;
  }
  *error = "callback needs KIND FUNCTION ARGS..., where KIND FUNCTION is one of:";
  for (const ClientCallback& callback : kCallbacks)
    *error += std::string(" \"") + callback.kind + " " + callback.name + "\"";
  return false;
}

}  // namespace qarn::tool
