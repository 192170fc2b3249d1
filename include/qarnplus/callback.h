#pragma once
// Callbacks across the process boundary. While a request waits, the server
// may call the application's password, selected-text and absent-photo
// functions; c_QARNPlus_Callback::Invoke runs them in the application. The
// static forwarders are the server's half: they pack a call into a callback
// message and hand it to the server's channel object (m_pCallback).

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

// The channel object of the process that sends callback messages.
class c_QARNSVR_Callback {
 public:
  // Carries `size` bytes of `message` to the peer and copies the peer's
  // answer, of the same size, over it. Returns 0 or more on success, a
  // negative value on failure.
  virtual int Forward(void* message, unsigned size) = 0;
  virtual ~c_QARNSVR_Callback() {}
};

class QARNPLUS_API c_QARNPlus_Callback {
 public:
  typedef int(WINAPI* PfnGetDocPasswd)(unsigned char* password, unsigned int* length, const char* docName);
  typedef int (*PfnEnumSelectedText)(unsigned short n, RECT rect, long value);
  typedef bool (*PfnDspAbsentPhoto)(void* context, RECT* rect, unsigned long number, const char* text);

  static c_QARNSVR_Callback* m_pCallback;
  static PfnGetDocPasswd m_pfnGetDocPasswd;
  static PfnEnumSelectedText m_pfnEnumSelectedText;
  static PfnDspAbsentPhoto m_pfnDspAbsentPhoto;

  // Runs the callback that a callback message names and writes its results
  // into the message; unknown methods leave the message unchanged.
  static void Invoke(void* message);

  // Store the function to call and return the matching forwarder.
  static PfnGetDocPasswd RegGetDocPasswd(PfnGetDocPasswd pfn);
  static PfnEnumSelectedText RegEnumSelectedText(PfnEnumSelectedText pfn);
  static PfnDspAbsentPhoto RegDspAbsentPhoto(PfnDspAbsentPhoto pfn);

  // Forwarders: send the call to the peer through m_pCallback.
  static int WINAPI GetDocPasswd(unsigned char* password, unsigned int* length, const char* docName);
  static int EnumSelectedText(unsigned short n, RECT rect, long value);
  static bool DspAbsentPhoto(void* context, RECT* rect, unsigned long number, const char* text);
};
