#pragma once
/// \file
/// Callbacks across the process boundary. While a request waits, the server
/// may call the application's password, selected-text and absent-photo
/// functions; c_QARNPlus_Callback::Invoke runs them in the application. The
/// static forwarders are the server's half: they pack a call into a callback
/// message and hand it to the server's channel object (m_pCallback). See
/// \ref callbacks.

#include "qarnplus/export.h"
#include "qarnplus/wintypes.h"

/// The channel object of the process that sends callback messages.
class c_QARNSVR_Callback {
 public:
  /// Carries `size` bytes of `message` to the peer and copies the peer's
  /// answer, of the same size, over it. Returns 0 or more on success, a
  /// negative value on failure.
  virtual int Forward(void* message, unsigned size) = 0;
  /// Destroys the channel object through its interface.
  virtual ~c_QARNSVR_Callback() {}
};

/// Both halves of a callback: Invoke() runs a callback message in the
/// application; the forwarders turn a call in the server into such a message.
class QARNPLUS_API c_QARNPlus_Callback {
 public:
  /// The application's password function: fills `password` (room for 256
  /// bytes) and `*length` for document `docName`; returns its verdict.
  typedef int(WINAPI* PfnGetDocPasswd)(unsigned char* password, unsigned int* length, const char* docName);
  /// The application's selected-text function: called with a number, a
  /// rectangle and a value; returns its verdict.
  typedef int (*PfnEnumSelectedText)(unsigned short n, RECT rect, long value);
  /// The application's absent-photo function: called with a context, a
  /// rectangle, a number and a text; returns its verdict.
  typedef bool (*PfnDspAbsentPhoto)(void* context, RECT* rect, unsigned long number, const char* text);

  /// The server's channel to its application; the forwarders send through
  /// it (NULL: nothing is sent).
  static c_QARNSVR_Callback* m_pCallback;
  /// The password function whose address GetDocPasswd() sends.
  static PfnGetDocPasswd m_pfnGetDocPasswd;
  /// The selected-text function whose address EnumSelectedText() sends.
  static PfnEnumSelectedText m_pfnEnumSelectedText;
  /// The absent-photo function whose address DspAbsentPhoto() sends.
  static PfnDspAbsentPhoto m_pfnDspAbsentPhoto;

  /// Runs the callback that a callback message names and writes its results
  /// into the message; unknown methods leave the message unchanged.
  static void Invoke(void* message);

  /// Stores the password function to call and returns the matching forwarder.
  static PfnGetDocPasswd RegGetDocPasswd(PfnGetDocPasswd pfn);
  /// Stores the selected-text function to call and returns the matching forwarder.
  static PfnEnumSelectedText RegEnumSelectedText(PfnEnumSelectedText pfn);
  /// Stores the absent-photo function to call and returns the matching forwarder.
  static PfnDspAbsentPhoto RegDspAbsentPhoto(PfnDspAbsentPhoto pfn);

  /// Forwarder: sends the password call to the peer through m_pCallback and
  /// copies at most 256 bytes of the answer into `password`; `*length` gets
  /// the answered length as given. Returns 0 when the message cannot travel.
  static int WINAPI GetDocPasswd(unsigned char* password, unsigned int* length, const char* docName);
  /// Forwarder: sends the selected-text call through m_pCallback; 0 when the
  /// message cannot travel.
  static int EnumSelectedText(unsigned short n, RECT rect, long value);
  /// Forwarder: sends the absent-photo call through m_pCallback (a NULL
  /// `rect` travels as a zero rectangle); false when the message cannot travel.
  static bool DspAbsentPhoto(void* context, RECT* rect, unsigned long number, const char* text);
};
