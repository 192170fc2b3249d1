// Callback messages: running the application's functions (Invoke) and
// packing the server's calls of them (the forwarders).
#include "qarnplus/callback.h"

#include <stdint.h>
#include <string.h>

#include "connection/message.h"

namespace msg = qarn::msg;

namespace {

namespace wire = qarn::wire;

// The fields of the three callback messages.
namespace passwd {
constexpr size_t kSize = sizeof(wire::GetDocPasswd), kFunction = offsetof(wire::GetDocPasswd, pfnFunction),
                 kResult = offsetof(wire::GetDocPasswd, nResult),
                 kPassword = offsetof(wire::GetDocPasswd, password),
                 kPasswordRoom = sizeof(wire::GetDocPasswd::password),
                 kLength = offsetof(wire::GetDocPasswd, nLength),
                 kDocName = offsetof(wire::GetDocPasswd, szDocName),
                 kDocNameRoom = sizeof(wire::GetDocPasswd::szDocName);
}
namespace seltext {
constexpr size_t kSize = sizeof(wire::EnumSelectedText),
                 kFunction = offsetof(wire::EnumSelectedText, pfnFunction),
                 kResult = offsetof(wire::EnumSelectedText, nResult),
                 kNumber = offsetof(wire::EnumSelectedText, nNumber),
                 kRect = offsetof(wire::EnumSelectedText, rect),
                 kValue = offsetof(wire::EnumSelectedText, nValue);
}
namespace photo {
constexpr size_t kSize = sizeof(wire::DspAbsentPhoto),
                 kFunction = offsetof(wire::DspAbsentPhoto, pfnFunction),
                 kResult = offsetof(wire::DspAbsentPhoto, bResult),
                 kContext = offsetof(wire::DspAbsentPhoto, nContext),
                 kRect = offsetof(wire::DspAbsentPhoto, rect),
                 kNumber = offsetof(wire::DspAbsentPhoto, nNumber),
                 kText = offsetof(wire::DspAbsentPhoto, szText),
                 kTextRoom = sizeof(wire::DspAbsentPhoto::szText);
}

// A local copy of a message placed so that the field at `aligned_offset`
// lands on a 4-byte boundary: the application receives pointers into the
// copy and must be able to use them as ordinary int and RECT pointers.
// A zero byte follows the copy: the last field is a text, and one that a
// careless or hostile server left unterminated must still end for the
// application. The answer is copied back without it, byte for byte.
template <size_t Size, size_t AlignedOffset>
struct MessageCopy {
  static constexpr size_t kShift = (4 - AlignedOffset % 4) % 4;
  alignas(8) char storage[Size + kShift + 1];
  MessageCopy() { storage[kShift + Size] = '\0'; }
  char* bytes() { return storage + kShift; }
};

template <typename Function>
Function FunctionAt(const char* message, size_t offset) {
  return reinterpret_cast<Function>(static_cast<uintptr_t>(msg::GetUInt32(message, offset)));
}

template <typename Function>
uint32_t AddressOf(Function function) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(function));
}

RECT RectAt(const char* message, size_t offset) {
  RECT rect;
  memcpy(&rect, message + offset, sizeof rect);
  return rect;
}

void InvokeGetDocPasswd(char* message) {
  MessageCopy<passwd::kSize, passwd::kLength> copy;
  char* m = copy.bytes();
  memcpy(m, message, passwd::kSize);
  auto function = FunctionAt<c_QARNPlus_Callback::PfnGetDocPasswd>(m, passwd::kFunction);
  const int result = function(reinterpret_cast<unsigned char*>(m + passwd::kPassword),
                              reinterpret_cast<unsigned int*>(m + passwd::kLength), m + passwd::kDocName);
  msg::PutInt32(m, passwd::kResult, result);
  memcpy(message, m, passwd::kSize);
}

void InvokeEnumSelectedText(char* message) {
  char m[seltext::kSize];
  memcpy(m, message, seltext::kSize);
  auto function = FunctionAt<c_QARNPlus_Callback::PfnEnumSelectedText>(m, seltext::kFunction);
  uint16_t number;
  memcpy(&number, m + seltext::kNumber, sizeof number);
  const int result = function(number, RectAt(m, seltext::kRect), msg::GetInt32(m, seltext::kValue));
  msg::PutInt32(m, seltext::kResult, result);
  memcpy(message, m, seltext::kSize);
}

void InvokeDspAbsentPhoto(char* message) {
  MessageCopy<photo::kSize, photo::kRect> copy;
  char* m = copy.bytes();
  memcpy(m, message, photo::kSize);
  auto function = FunctionAt<c_QARNPlus_Callback::PfnDspAbsentPhoto>(m, photo::kFunction);
  void* context = reinterpret_cast<void*>(static_cast<uintptr_t>(msg::GetUInt32(m, photo::kContext)));
  const bool result = function(context, reinterpret_cast<RECT*>(m + photo::kRect),
                               msg::GetUInt32(m, photo::kNumber), m + photo::kText);
  m[photo::kResult] = result ? 1 : 0;
  memcpy(message, m, photo::kSize);
}

struct CallbackMethod {
  const char* name;
  void (*invoke)(char* message);
};

const CallbackMethod kMethods[] = {
    {"GetDocPasswd", InvokeGetDocPasswd},
    {"EnumSelectedText", InvokeEnumSelectedText},
    {"DspAbsentPhoto", InvokeDspAbsentPhoto},
};

}  // namespace

c_QARNSVR_Callback* c_QARNPlus_Callback::m_pCallback = nullptr;
c_QARNPlus_Callback::PfnGetDocPasswd c_QARNPlus_Callback::m_pfnGetDocPasswd = nullptr;
c_QARNPlus_Callback::PfnEnumSelectedText c_QARNPlus_Callback::m_pfnEnumSelectedText = nullptr;
c_QARNPlus_Callback::PfnDspAbsentPhoto c_QARNPlus_Callback::m_pfnDspAbsentPhoto = nullptr;

void c_QARNPlus_Callback::Invoke(void* message) {
  char* m = static_cast<char*>(message);
  for (const CallbackMethod& method : kMethods) {
    if (msg::MethodIs(m, method.name)) {
      method.invoke(m);
      return;
    }
  }
}

c_QARNPlus_Callback::PfnGetDocPasswd c_QARNPlus_Callback::RegGetDocPasswd(PfnGetDocPasswd pfn) {
  m_pfnGetDocPasswd = pfn;
  return &GetDocPasswd;
}

c_QARNPlus_Callback::PfnEnumSelectedText c_QARNPlus_Callback::RegEnumSelectedText(PfnEnumSelectedText pfn) {
  m_pfnEnumSelectedText = pfn;
  return &EnumSelectedText;
}

c_QARNPlus_Callback::PfnDspAbsentPhoto c_QARNPlus_Callback::RegDspAbsentPhoto(PfnDspAbsentPhoto pfn) {
  m_pfnDspAbsentPhoto = pfn;
  return &DspAbsentPhoto;
}

int WINAPI c_QARNPlus_Callback::GetDocPasswd(unsigned char* password, unsigned int* length,
                                             const char* docName) {
  char m[passwd::kSize];
  msg::Begin(m, sizeof m, msg::kCallbackInterface, "GetDocPasswd");
  msg::PutUInt32(m, passwd::kFunction, AddressOf(m_pfnGetDocPasswd));
  msg::PutText(m, passwd::kDocName, passwd::kDocNameRoom, docName);
  msg::PutUInt32(m, passwd::kLength, passwd::kPasswordRoom);
  if (m_pCallback != nullptr && m_pCallback->Forward(m, sizeof m) < 0) return 0;

  const uint32_t answered = msg::GetUInt32(m, passwd::kLength);
  if (length != nullptr) *length = answered;
  // The caller's buffer holds 256 bytes; a longer answer is not copied past it.
  const size_t copied = answered < passwd::kPasswordRoom ? answered : passwd::kPasswordRoom;
  if (password != nullptr) memcpy(password, m + passwd::kPassword, copied);
  return msg::GetInt32(m, passwd::kResult);
}

int c_QARNPlus_Callback::EnumSelectedText(unsigned short n, RECT rect, long value) {
  char m[seltext::kSize];
  msg::Begin(m, sizeof m, msg::kCallbackInterface, "EnumSelectedText");
  msg::PutUInt32(m, seltext::kFunction, AddressOf(m_pfnEnumSelectedText));
  memcpy(m + seltext::kNumber, &n, sizeof n);
  memcpy(m + seltext::kRect, &rect, sizeof rect);
  msg::PutInt32(m, seltext::kValue, static_cast<int32_t>(value));
  if (m_pCallback != nullptr && m_pCallback->Forward(m, sizeof m) < 0) return 0;
  return msg::GetInt32(m, seltext::kResult);
}

bool c_QARNPlus_Callback::DspAbsentPhoto(void* context, RECT* rect, unsigned long number, const char* text) {
  char m[photo::kSize];
  msg::Begin(m, sizeof m, msg::kCallbackInterface, "DspAbsentPhoto");
  msg::PutUInt32(m, photo::kFunction, AddressOf(m_pfnDspAbsentPhoto));
  msg::PutUInt32(m, photo::kContext, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(context)));
  if (rect != nullptr) memcpy(m + photo::kRect, rect, sizeof *rect);
  msg::PutUInt32(m, photo::kNumber, static_cast<uint32_t>(number));
  msg::PutText(m, photo::kText, photo::kTextRoom, text);
  if (m_pCallback != nullptr && m_pCallback->Forward(m, sizeof m) < 0) return false;
  return m[photo::kResult] != 0;
}
