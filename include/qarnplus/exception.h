#pragma once
/// \file
/// c_QARNPlus_Exception: the exception type of qarnplus. See \ref exceptions.

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

/// The exception type of qarnplus. It carries either a processor fault (its
/// exception record, the processor context and a readable text) or a source
/// position with a free text.
///
/// A thread that calls Initialize() has every processor fault on it thrown as
/// a c_QARNPlus_Exception at the point of the fault; Deinitialize() undoes it.
/// Code that may fault must be built with -fnon-call-exceptions (GCC) for the
/// exception to reach handlers in the faulting function itself.
///
/// On POSIX the first Initialize() installs one handler for SIGSEGV, SIGBUS,
/// SIGFPE, SIGILL and SIGTRAP for the whole process; signals on threads
/// without the translator go on to the handlers that were there before. A
/// handler that the application installs later for these signals replaces it.
class QARNPLUS_API c_QARNPlus_Exception {
 public:
  /// From a processor fault: copies the record and the context and picks the
  /// text of the exception code. NULL pointers give "Unknown system exception".
  explicit c_QARNPlus_Exception(EXCEPTION_POINTERS* pExceptionPointers);
  /// From a source position: the message reads "<file>:<line> (<text>)"; the
  /// file name is cut to 260 characters and the text to 128; NULL counts as "".
  c_QARNPlus_Exception(const char* szFile, unsigned int nLine, const char* szText);
  /// Copies every field.
  c_QARNPlus_Exception(const c_QARNPlus_Exception& other) = default;
  /// Holds nothing to release.
  ~c_QARNPlus_Exception();

  /// The message, m_szMessage.
  operator const char*() const;  // NOLINT(google-explicit-constructor): the message
  /// Copies every field.
  c_QARNPlus_Exception& operator=(const c_QARNPlus_Exception& other);

  /// Installs Translator for the calling thread and keeps the translator it
  /// replaces (one slot for the whole process).
  static void Initialize();
  /// Installs the kept translator again on the calling thread.
  static void Deinitialize();
  /// Builds an exception from the fault and throws it; the code is read from
  /// the record, not from `nCode`.
  static void Translator(unsigned int nCode, EXCEPTION_POINTERS* pExceptionPointers);

  char m_szMessage[776];               ///< the readable text, never empty
  EXCEPTION_RECORD m_ExceptionRecord;  ///< the fault's record (its first one); zeros for a source position
  CONTEXT m_Context;                   ///< the processor context at the fault; zeros for a source position
  char m_szFile[261];                  ///< the source file, "" for a fault
  unsigned int m_nLine;                ///< the source line, 0 for a fault
  char m_szText[129];                  ///< the free text, "" for a fault

 private:
  static void (*m_preTranslator)(unsigned int, EXCEPTION_POINTERS*);
};
