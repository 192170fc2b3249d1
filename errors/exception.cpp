// c_QARNPlus_Exception: building the exception from a fault or a source
// position, and installing the per-thread translator through the OS layer.

#include "qarnplus/exception.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

// The layout is part of the exported interface: applications built against
// the Windows product read these fields at these offsets.
#if defined(__i386__) || defined(_M_IX86)
static_assert(offsetof(c_QARNPlus_Exception, m_szMessage) == 0, "m_szMessage offset");
static_assert(offsetof(c_QARNPlus_Exception, m_ExceptionRecord) == 776, "m_ExceptionRecord offset");
static_assert(offsetof(c_QARNPlus_Exception, m_Context) == 856, "m_Context offset");
static_assert(offsetof(c_QARNPlus_Exception, m_szFile) == 1572, "m_szFile offset");
static_assert(offsetof(c_QARNPlus_Exception, m_nLine) == 1836, "m_nLine offset");
static_assert(offsetof(c_QARNPlus_Exception, m_szText) == 1840, "m_szText offset");
static_assert(sizeof(c_QARNPlus_Exception) == 1972, "c_QARNPlus_Exception size");
#endif

namespace {

struct FaultText {
  unsigned id;
  DWORD code;
  const char* text;
};

constexpr FaultText kFaultTexts[] = {
#define QARN_FAULT_TEXT(id, code, text) {id, code, text},
#include "errors/fault_texts.inc"
#undef QARN_FAULT_TEXT
};

// The entry of `code`; the last entry stands for every code not listed.
const FaultText& FaultTextFor(DWORD code) {
  constexpr size_t kListed = sizeof(kFaultTexts) / sizeof(kFaultTexts[0]) - 1;
  for (size_t i = 0; i < kListed; ++i) {
    if (kFaultTexts[i].code == code) return kFaultTexts[i];
  }
  return kFaultTexts[kListed];
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

void (*c_QARNPlus_Exception::m_preTranslator)(unsigned int, EXCEPTION_POINTERS*) = nullptr;

c_QARNPlus_Exception::c_QARNPlus_Exception(EXCEPTION_POINTERS* pExceptionPointers) : m_nLine(0) {
  std::memset(m_szMessage, 0, sizeof m_szMessage);
  std::memset(&m_ExceptionRecord, 0, sizeof m_ExceptionRecord);
  std::memset(&m_Context, 0, sizeof m_Context);
  std::memset(m_szFile, 0, sizeof m_szFile);
  std::memset(m_szText, 0, sizeof m_szText);
  if (pExceptionPointers != nullptr) {
    // Only the first record: a chained record is not followed.
    if (pExceptionPointers->ExceptionRecord != nullptr) {
      std::memcpy(&m_ExceptionRecord, pExceptionPointers->ExceptionRecord, sizeof m_ExceptionRecord);
    }
    if (pExceptionPointers->ContextRecord != nullptr) {
      std::memcpy(&m_Context, pExceptionPointers->ContextRecord, sizeof m_Context);
    }
  }
  const FaultText& entry = FaultTextFor(m_ExceptionRecord.ExceptionCode);
  // The library's own texts; should they be missing, the same text compiled
  // into the library stands in, so the message is never empty.
  if (qarn::os::LoadFaultText(entry.id, m_szMessage, sizeof m_szMessage) <= 0) {
    std::snprintf(m_szMessage, sizeof m_szMessage, "%s", entry.text);
  }
}

c_QARNPlus_Exception::c_QARNPlus_Exception(const char* szFile, unsigned int nLine, const char* szText)
    : m_nLine(nLine) {
  std::memset(&m_ExceptionRecord, 0, sizeof m_ExceptionRecord);
  std::memset(&m_Context, 0, sizeof m_Context);
  std::snprintf(m_szFile, sizeof m_szFile, "%s", TextOrEmpty(szFile));
  std::snprintf(m_szText, sizeof m_szText, "%s", TextOrEmpty(szText));
  std::snprintf(m_szMessage, sizeof m_szMessage, "%s:%u (%s)", m_szFile, m_nLine, m_szText);
}

c_QARNPlus_Exception::~c_QARNPlus_Exception() = default;

c_QARNPlus_Exception::operator const char*() const { return m_szMessage; }

c_QARNPlus_Exception& c_QARNPlus_Exception::operator=(const c_QARNPlus_Exception& other) {
  if (this != &other) {
    std::memcpy(m_szMessage, other.m_szMessage, sizeof m_szMessage);
    m_ExceptionRecord = other.m_ExceptionRecord;
    m_Context = other.m_Context;
    std::memcpy(m_szFile, other.m_szFile, sizeof m_szFile);
    m_nLine = other.m_nLine;
    std::memcpy(m_szText, other.m_szText, sizeof m_szText);
  }
  return *this;
}

void c_QARNPlus_Exception::Initialize() { m_preTranslator = qarn::os::SetThreadTranslator(&Translator); }

void c_QARNPlus_Exception::Deinitialize() { qarn::os::SetThreadTranslator(m_preTranslator); }

void c_QARNPlus_Exception::Translator(unsigned int /*nCode*/, EXCEPTION_POINTERS* pExceptionPointers) {
  // The code is read from the record, not from the runtime's argument.
  throw c_QARNPlus_Exception(pExceptionPointers);
}
