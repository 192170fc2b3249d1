// The server's end of the transport tests, in a process of its own:
//   doc_peer poke <block name> <offset> <hex>       writes bytes into an opened block
//   doc_peer peek <block name> <count>              prints the first bytes of a block
//   doc_peer usb <pointer value>                    opens a USB printer package
// Results go to stdout; a thrown system code is printed as "error <code>".
// The caller sets QARN_NS so that block names match its own.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "qarnplus/legpack.h"
#include "qarnplus/shrmem.h"

namespace {

std::vector<unsigned char> ParseHex(const char* text) {
  std::vector<unsigned char> bytes;
  for (size_t i = 0; text[i] != 0 && text[i + 1] != 0; i += 2) {
    const char pair[3] = {text[i], text[i + 1], 0};
    bytes.push_back(static_cast<unsigned char>(strtoul(pair, nullptr, 16)));
  }
  return bytes;
}

void PrintHex(const unsigned char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) printf("%02x", bytes[i]);
  printf("\n");
}

int Poke(const char* name, const char* offset, const char* hex) {
  c_QARNPlus_Shrmem block(name);
  const std::vector<unsigned char> bytes = ParseHex(hex);
  memcpy(static_cast<unsigned char*>(block.Local()) + strtoul(offset, nullptr, 10), bytes.data(),
         bytes.size());
  printf("ok\n");
  return 0;
}

int Peek(const char* name, const char* count) {
  c_QARNPlus_Shrmem block(name);
  PrintHex(static_cast<const unsigned char*>(block.Local()), strtoul(count, nullptr, 10));
  return 0;
}

// Prints the block count and, per node, the first 4 bytes behind its second
// link in this process ("null" for none).
int Usb(const char* value) {
  const auto pointer = static_cast<uintptr_t>(strtoul(value, nullptr, 10));
  c_QARNPlus_Legpack package(reinterpret_cast<USBPrinter*>(pointer), false);
  printf("blocks %u\n", static_cast<unsigned>(package.m_pBlocks->size()));
  const auto* record = static_cast<const USBPrinter*>(package.Local());
  int index = 0;
  for (const USBPrinterNode* node = record->pChain; node != nullptr; node = node->pNext) {
    printf("node %d second ", ++index);
    if (node->pSecondLink == nullptr) {
      printf("null\n");
    } else {
      PrintHex(static_cast<const unsigned char*>(node->pSecondLink), 4);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  try {
    if (command == "poke" && argc == 5) return Poke(argv[2], argv[3], argv[4]);
    if (command == "peek" && argc == 4) return Peek(argv[2], argv[3]);
    if (command == "usb" && argc == 3) return Usb(argv[2]);
  } catch (unsigned long code) {
    printf("error %lu\n", code);
    return 0;
  }
  fprintf(stderr, "usage: doc_peer poke|peek|usb ...\n");
  return 2;
}
