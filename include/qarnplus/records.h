#pragma once
// The parameter records of the document interface, as the application fills
// them. Each record is byte-packed with 32-bit pointers: the server reads the
// very same bytes from shared memory, so every size and offset below is part
// of the wire format and is checked at compile time.
//
// Field names: nLead is the 2-byte leading field every SAP record starts
// with; psz* point to zero-terminated strings; p* point to buffers (their
// byte counts are the matching n*Len field or the number in the name, e.g.
// pFirstBuffer260); ab* are bytes carried inside the record: abOpaque* go to
// the server only, abResult* are filled by the server and come back.

#include <stddef.h>
#include <stdint.h>

static_assert(sizeof(void*) == 4, "the records carry 32-bit pointers: build for a 32-bit target");

// The generic record pointer the application hands to c_QARNPlus_Legpack. It
// is never dereferenced as such: the API code says which record it is.
struct SedApiPara;

#define QARN_RECORD_SIZE(Type, size) static_assert(sizeof(Type) == (size), #Type " size")
#define QARN_FIELD_AT(Type, field, offset) \
  static_assert(offsetof(Type, field) == (offset), #Type "::" #field " offset")

#pragma pack(push, 1)

// A node of the SAPPrint1 chain, 8 bytes.
struct SAPPrintNode {
  uint8_t abOpaque[4];  // opaque bytes
  SAPPrintNode* pNext;  // next node, NULL in the last one
};
QARN_RECORD_SIZE(SAPPrintNode, 8);
QARN_FIELD_AT(SAPPrintNode, abOpaque, 0);
QARN_FIELD_AT(SAPPrintNode, pNext, 4);

// A node of the USBPrinter chain, 20 bytes.
struct USBPrinterNode {
  uint8_t abOpaque[4];    // opaque bytes
  char* pszFirst;         // zero-terminated string, never comes back
  char* pszSecond;        // zero-terminated string, never comes back
  USBPrinterNode* pNext;  // next node, NULL in the last one
  void* pSecondLink;      // NULL, or the address of a node, node string or
                          // record of the same package
};
QARN_RECORD_SIZE(USBPrinterNode, 20);
QARN_FIELD_AT(USBPrinterNode, abOpaque, 0);
QARN_FIELD_AT(USBPrinterNode, pszFirst, 4);
QARN_FIELD_AT(USBPrinterNode, pszSecond, 8);
QARN_FIELD_AT(USBPrinterNode, pNext, 12);
QARN_FIELD_AT(USBPrinterNode, pSecondLink, 16);

// API code 1, 7 bytes.
struct SAPGetVersion1 {
  uint16_t nLead;        // leading field, never read by the transport
  uint8_t abOpaque[2];   // opaque bytes
  uint8_t abVersion[3];  // version bytes, filled by the server
};
QARN_RECORD_SIZE(SAPGetVersion1, 7);
QARN_FIELD_AT(SAPGetVersion1, nLead, 0);
QARN_FIELD_AT(SAPGetVersion1, abOpaque, 2);
QARN_FIELD_AT(SAPGetVersion1, abVersion, 4);

// API code 7, 6 bytes.
struct SAPSetParentWnd1 {
  uint16_t nLead;    // leading field, never read by the transport
  void* hParentWnd;  // parent window handle, passed on unchanged
};
QARN_RECORD_SIZE(SAPSetParentWnd1, 6);
QARN_FIELD_AT(SAPSetParentWnd1, nLead, 0);
QARN_FIELD_AT(SAPSetParentWnd1, hParentWnd, 2);

// API code 8, 14 bytes. With no message buffer (NULL or length 0) only nMessageLen comes back.
struct SAPGetErrMes1 {
  uint16_t nLead;        // leading field, never read by the transport
  char* pMessage;        // message buffer of nMessageLen bytes
  uint32_t nMessageLen;  // byte count of pMessage
  char* pszText;         // zero-terminated string
};
QARN_RECORD_SIZE(SAPGetErrMes1, 14);
QARN_FIELD_AT(SAPGetErrMes1, nLead, 0);
QARN_FIELD_AT(SAPGetErrMes1, pMessage, 2);
QARN_FIELD_AT(SAPGetErrMes1, nMessageLen, 6);
QARN_FIELD_AT(SAPGetErrMes1, pszText, 10);

// API code 10, 8 bytes. With no key buffer (NULL or length 0) only nKeyLen comes back.
struct SAPGetPublicKey1 {
  uint16_t nLead;       // leading field, never read by the transport
  unsigned char* pKey;  // key buffer of nKeyLen bytes
  uint16_t nKeyLen;     // byte count of pKey
};
QARN_RECORD_SIZE(SAPGetPublicKey1, 8);
QARN_FIELD_AT(SAPGetPublicKey1, nLead, 0);
QARN_FIELD_AT(SAPGetPublicKey1, pKey, 2);
QARN_FIELD_AT(SAPGetPublicKey1, nKeyLen, 6);

// API code 11, 14 bytes.
struct SAPGenPKIKey {
  uint16_t nLead;                   // leading field, never read by the transport
  char* pszText;                    // zero-terminated string
  unsigned char* pFirstBuffer260;   // 260-byte buffer
  unsigned char* pSecondBuffer260;  // 260-byte buffer
};
QARN_RECORD_SIZE(SAPGenPKIKey, 14);
QARN_FIELD_AT(SAPGenPKIKey, nLead, 0);
QARN_FIELD_AT(SAPGenPKIKey, pszText, 2);
QARN_FIELD_AT(SAPGenPKIKey, pFirstBuffer260, 6);
QARN_FIELD_AT(SAPGenPKIKey, pSecondBuffer260, 10);

// API code 12, 8 bytes.
struct SAPSetPKIKeySPath {
  uint16_t nLead;     // leading field, never read by the transport
  char* pPath;        // path buffer of nPathLen bytes
  uint16_t nPathLen;  // byte count of pPath
};
QARN_RECORD_SIZE(SAPSetPKIKeySPath, 8);
QARN_FIELD_AT(SAPSetPKIKeySPath, nLead, 0);
QARN_FIELD_AT(SAPSetPKIKeySPath, pPath, 2);
QARN_FIELD_AT(SAPSetPKIKeySPath, nPathLen, 6);

// API code 13, 2310 bytes. Copied back whole, the leading field included.
struct SAPGenPKIKeyBuf {
  uint16_t nLead;        // leading field, never read by the transport
  uint8_t abData[2308];  // inline data
};
QARN_RECORD_SIZE(SAPGenPKIKeyBuf, 2310);
QARN_FIELD_AT(SAPGenPKIKeyBuf, nLead, 0);
QARN_FIELD_AT(SAPGenPKIKeyBuf, abData, 2);

// API code 101, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetInputCipherProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetInputCipherProc1, 6);
QARN_FIELD_AT(SAPSetInputCipherProc1, nLead, 0);
QARN_FIELD_AT(SAPSetInputCipherProc1, pfnCallback, 2);

// API code 110, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetIsUserAbortProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetIsUserAbortProc1, 6);
QARN_FIELD_AT(SAPSetIsUserAbortProc1, nLead, 0);
QARN_FIELD_AT(SAPSetIsUserAbortProc1, pfnCallback, 2);

// API code 114, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetDispPrintErrProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetDispPrintErrProc1, 6);
QARN_FIELD_AT(SAPSetDispPrintErrProc1, nLead, 0);
QARN_FIELD_AT(SAPSetDispPrintErrProc1, pfnCallback, 2);

// API code 117, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetDispPageNoProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetDispPageNoProc1, 6);
QARN_FIELD_AT(SAPSetDispPageNoProc1, nLead, 0);
QARN_FIELD_AT(SAPSetDispPageNoProc1, pfnCallback, 2);

// API code 119, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetDispNewPaperProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetDispNewPaperProc1, 6);
QARN_FIELD_AT(SAPSetDispNewPaperProc1, nLead, 0);
QARN_FIELD_AT(SAPSetDispNewPaperProc1, pfnCallback, 2);

// API code 121, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetConfirmProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetConfirmProc1, 6);
QARN_FIELD_AT(SAPSetConfirmProc1, nLead, 0);
QARN_FIELD_AT(SAPSetConfirmProc1, pfnCallback, 2);

// API code 123, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetSelSealProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetSelSealProc1, 6);
QARN_FIELD_AT(SAPSetSelSealProc1, nLead, 0);
QARN_FIELD_AT(SAPSetSelSealProc1, pfnCallback, 2);

// API code 128, 6 bytes. Callback setter: the address reaches the server as zero.
struct SAPSetHardwareWarningProc1 {
  uint16_t nLead;     // leading field, never read by the transport
  void* pfnCallback;  // the application's callback address
};
QARN_RECORD_SIZE(SAPSetHardwareWarningProc1, 6);
QARN_FIELD_AT(SAPSetHardwareWarningProc1, nLead, 0);
QARN_FIELD_AT(SAPSetHardwareWarningProc1, pfnCallback, 2);

// API code 200, 26 bytes. The strings never come back; pCallerAddress reaches the server as zero.
struct SAPCreateSeal1 {
  uint16_t nLead;        // leading field, never read by the transport
  char* pszFirst;        // zero-terminated string
  char* pszSecond;       // zero-terminated string
  uint8_t abOpaque[4];   // opaque bytes
  char* pszThird;        // zero-terminated string
  char* pszFourth;       // zero-terminated string
  void* pCallerAddress;  // an address of the application's own
};
QARN_RECORD_SIZE(SAPCreateSeal1, 26);
QARN_FIELD_AT(SAPCreateSeal1, nLead, 0);
QARN_FIELD_AT(SAPCreateSeal1, pszFirst, 2);
QARN_FIELD_AT(SAPCreateSeal1, pszSecond, 6);
QARN_FIELD_AT(SAPCreateSeal1, abOpaque, 10);
QARN_FIELD_AT(SAPCreateSeal1, pszThird, 14);
QARN_FIELD_AT(SAPCreateSeal1, pszFourth, 18);
QARN_FIELD_AT(SAPCreateSeal1, pCallerAddress, 22);

// API code 208, 2 bytes.
struct SAPBeginEncrypt1 {
  uint16_t nLead;  // leading field, never read by the transport
};
QARN_RECORD_SIZE(SAPBeginEncrypt1, 2);
QARN_FIELD_AT(SAPBeginEncrypt1, nLead, 0);

// API code 210, 75 bytes.
struct SAPEncrypt3 {
  uint16_t nLead;                   // leading field, never read by the transport
  unsigned char* pFirstBuffer260;   // 260-byte buffer
  uint8_t abOpaque1[10];            // opaque bytes
  unsigned char* pByte;             // a 1-byte value
  uint8_t abOpaque2[13];            // opaque bytes
  unsigned char* pSecondBuffer260;  // 260-byte buffer
  uint8_t abOpaque3[38];            // opaque bytes
};
QARN_RECORD_SIZE(SAPEncrypt3, 75);
QARN_FIELD_AT(SAPEncrypt3, nLead, 0);
QARN_FIELD_AT(SAPEncrypt3, pFirstBuffer260, 2);
QARN_FIELD_AT(SAPEncrypt3, abOpaque1, 6);
QARN_FIELD_AT(SAPEncrypt3, pByte, 16);
QARN_FIELD_AT(SAPEncrypt3, abOpaque2, 20);
QARN_FIELD_AT(SAPEncrypt3, pSecondBuffer260, 33);
QARN_FIELD_AT(SAPEncrypt3, abOpaque3, 37);

// API code 211, 2 bytes.
struct SAPEndEncrypt1 {
  uint16_t nLead;  // leading field, never read by the transport
};
QARN_RECORD_SIZE(SAPEndEncrypt1, 2);
QARN_FIELD_AT(SAPEndEncrypt1, nLead, 0);

// API code 212, 79 bytes. The data buffer holds pLengthPair[0] + pLengthPair[1] bytes.
struct SAPEncrypt_CA {
  uint16_t nLead;         // leading field, never read by the transport
  uint8_t abOpaque[69];   // opaque bytes
  unsigned char* pData;   // data buffer
  uint16_t* pLengthPair;  // two 16-bit lengths
};
QARN_RECORD_SIZE(SAPEncrypt_CA, 79);
QARN_FIELD_AT(SAPEncrypt_CA, nLead, 0);
QARN_FIELD_AT(SAPEncrypt_CA, abOpaque, 2);
QARN_FIELD_AT(SAPEncrypt_CA, pData, 71);
QARN_FIELD_AT(SAPEncrypt_CA, pLengthPair, 75);

// API code 213, 10 bytes.
struct SAPConvert {
  uint16_t nLead;   // leading field, never read by the transport
  char* pszFirst;   // zero-terminated string
  char* pszSecond;  // zero-terminated string
};
QARN_RECORD_SIZE(SAPConvert, 10);
QARN_FIELD_AT(SAPConvert, nLead, 0);
QARN_FIELD_AT(SAPConvert, pszFirst, 2);
QARN_FIELD_AT(SAPConvert, pszSecond, 6);

// API code 214, 19 bytes.
struct SAPVerfiy {
  uint16_t nLead;        // leading field, never read by the transport
  uint8_t abOpaque1[4];  // opaque bytes
  char* pszText;         // zero-terminated string
  unsigned char* pData;  // data buffer of nDataLen bytes
  uint32_t nDataLen;     // byte count of pData
  uint8_t abOpaque2[1];  // opaque bytes
};
QARN_RECORD_SIZE(SAPVerfiy, 19);
QARN_FIELD_AT(SAPVerfiy, nLead, 0);
QARN_FIELD_AT(SAPVerfiy, abOpaque1, 2);
QARN_FIELD_AT(SAPVerfiy, pszText, 6);
QARN_FIELD_AT(SAPVerfiy, pData, 10);
QARN_FIELD_AT(SAPVerfiy, nDataLen, 14);
QARN_FIELD_AT(SAPVerfiy, abOpaque2, 18);

// API code 222, 26 bytes.
struct SAPPrint1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  uint8_t abOpaque1[4];    // opaque bytes
  SAPPrintNode* pChain;    // head of the node chain, NULL when empty
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  uint8_t abOpaque2[3];    // opaque bytes
};
QARN_RECORD_SIZE(SAPPrint1, 26);
QARN_FIELD_AT(SAPPrint1, nLead, 0);
QARN_FIELD_AT(SAPPrint1, pszFirst, 2);
QARN_FIELD_AT(SAPPrint1, abOpaque1, 6);
QARN_FIELD_AT(SAPPrint1, pChain, 10);
QARN_FIELD_AT(SAPPrint1, pBuffer, 14);
QARN_FIELD_AT(SAPPrint1, nBufferLen, 18);
QARN_FIELD_AT(SAPPrint1, pszSecond, 19);
QARN_FIELD_AT(SAPPrint1, abOpaque2, 23);

// API code 223, 39 bytes.
struct SAPPrint_MEDIAGWFILE {
  uint16_t nLead;         // leading field, never read by the transport
  uint8_t abOpaque1[24];  // opaque bytes
  char* pszText;          // zero-terminated string
  uint8_t abOpaque2[9];   // opaque bytes
};
QARN_RECORD_SIZE(SAPPrint_MEDIAGWFILE, 39);
QARN_FIELD_AT(SAPPrint_MEDIAGWFILE, nLead, 0);
QARN_FIELD_AT(SAPPrint_MEDIAGWFILE, abOpaque1, 2);
QARN_FIELD_AT(SAPPrint_MEDIAGWFILE, pszText, 26);
QARN_FIELD_AT(SAPPrint_MEDIAGWFILE, abOpaque2, 30);

// API code 233, 15 bytes. An empty pszSecond is replaced by NULL in the caller's record.
struct SAPPrintEx1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // optional string
};
QARN_RECORD_SIZE(SAPPrintEx1, 15);
QARN_FIELD_AT(SAPPrintEx1, nLead, 0);
QARN_FIELD_AT(SAPPrintEx1, pszFirst, 2);
QARN_FIELD_AT(SAPPrintEx1, pBuffer, 6);
QARN_FIELD_AT(SAPPrintEx1, nBufferLen, 10);
QARN_FIELD_AT(SAPPrintEx1, pszSecond, 11);

// API code 234, 23 bytes.
struct SAPFwdDoc1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  char* pszThird;          // zero-terminated string
  char* pszFourth;         // zero-terminated string
};
QARN_RECORD_SIZE(SAPFwdDoc1, 23);
QARN_FIELD_AT(SAPFwdDoc1, nLead, 0);
QARN_FIELD_AT(SAPFwdDoc1, pszFirst, 2);
QARN_FIELD_AT(SAPFwdDoc1, pBuffer, 6);
QARN_FIELD_AT(SAPFwdDoc1, nBufferLen, 10);
QARN_FIELD_AT(SAPFwdDoc1, pszSecond, 11);
QARN_FIELD_AT(SAPFwdDoc1, pszThird, 15);
QARN_FIELD_AT(SAPFwdDoc1, pszFourth, 19);

// API code 256, 19 bytes.
struct SAPArchive1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  uint8_t abOpaque[4];     // opaque bytes
};
QARN_RECORD_SIZE(SAPArchive1, 19);
QARN_FIELD_AT(SAPArchive1, nLead, 0);
QARN_FIELD_AT(SAPArchive1, pszFirst, 2);
QARN_FIELD_AT(SAPArchive1, pBuffer, 6);
QARN_FIELD_AT(SAPArchive1, nBufferLen, 10);
QARN_FIELD_AT(SAPArchive1, pszSecond, 11);
QARN_FIELD_AT(SAPArchive1, abOpaque, 15);

// API code 288, 26 bytes.
struct SAPDetach1 {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszFirst;                // zero-terminated string
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint8_t nFirstBufferLen;       // byte count of pFirstBuffer
  char* pszSecond;               // zero-terminated string
  uint8_t abOpaque[1];           // opaque bytes
  char* pszThird;                // zero-terminated string
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint16_t nSecondBufferLen;     // byte count of pSecondBuffer
};
QARN_RECORD_SIZE(SAPDetach1, 26);
QARN_FIELD_AT(SAPDetach1, nLead, 0);
QARN_FIELD_AT(SAPDetach1, pszFirst, 2);
QARN_FIELD_AT(SAPDetach1, pFirstBuffer, 6);
QARN_FIELD_AT(SAPDetach1, nFirstBufferLen, 10);
QARN_FIELD_AT(SAPDetach1, pszSecond, 11);
QARN_FIELD_AT(SAPDetach1, abOpaque, 15);
QARN_FIELD_AT(SAPDetach1, pszThird, 16);
QARN_FIELD_AT(SAPDetach1, pSecondBuffer, 20);
QARN_FIELD_AT(SAPDetach1, nSecondBufferLen, 24);

// API code 303, 19 bytes.
struct SAPGetText3 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  uint8_t abOpaque1[2];    // opaque bytes
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  uint8_t abOpaque2[2];    // opaque bytes
};
QARN_RECORD_SIZE(SAPGetText3, 19);
QARN_FIELD_AT(SAPGetText3, nLead, 0);
QARN_FIELD_AT(SAPGetText3, pszFirst, 2);
QARN_FIELD_AT(SAPGetText3, abOpaque1, 6);
QARN_FIELD_AT(SAPGetText3, pBuffer, 8);
QARN_FIELD_AT(SAPGetText3, nBufferLen, 12);
QARN_FIELD_AT(SAPGetText3, pszSecond, 13);
QARN_FIELD_AT(SAPGetText3, abOpaque2, 17);

// API code 314, 26 bytes.
struct SAPGetLinks1 {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszText;                 // zero-terminated string
  uint8_t abOpaque[2];           // opaque bytes
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint16_t nFirstBufferLen;      // byte count of pFirstBuffer
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint16_t nSecondBufferLen;     // byte count of pSecondBuffer
  unsigned char* pThirdBuffer;   // buffer of nThirdBufferLen bytes
  uint16_t nThirdBufferLen;      // byte count of pThirdBuffer
};
QARN_RECORD_SIZE(SAPGetLinks1, 26);
QARN_FIELD_AT(SAPGetLinks1, nLead, 0);
QARN_FIELD_AT(SAPGetLinks1, pszText, 2);
QARN_FIELD_AT(SAPGetLinks1, abOpaque, 6);
QARN_FIELD_AT(SAPGetLinks1, pFirstBuffer, 8);
QARN_FIELD_AT(SAPGetLinks1, nFirstBufferLen, 12);
QARN_FIELD_AT(SAPGetLinks1, pSecondBuffer, 14);
QARN_FIELD_AT(SAPGetLinks1, nSecondBufferLen, 18);
QARN_FIELD_AT(SAPGetLinks1, pThirdBuffer, 20);
QARN_FIELD_AT(SAPGetLinks1, nThirdBufferLen, 24);

// API code 315, 28 bytes.
struct SAPCheckLinks1 {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszFirst;                // zero-terminated string
  uint8_t abOpaque[2];           // opaque bytes
  char* pszSecond;               // zero-terminated string
  char* pszThird;                // zero-terminated string
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint16_t nFirstBufferLen;      // byte count of pFirstBuffer
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint16_t nSecondBufferLen;     // byte count of pSecondBuffer
};
QARN_RECORD_SIZE(SAPCheckLinks1, 28);
QARN_FIELD_AT(SAPCheckLinks1, nLead, 0);
QARN_FIELD_AT(SAPCheckLinks1, pszFirst, 2);
QARN_FIELD_AT(SAPCheckLinks1, abOpaque, 6);
QARN_FIELD_AT(SAPCheckLinks1, pszSecond, 8);
QARN_FIELD_AT(SAPCheckLinks1, pszThird, 12);
QARN_FIELD_AT(SAPCheckLinks1, pFirstBuffer, 16);
QARN_FIELD_AT(SAPCheckLinks1, nFirstBufferLen, 20);
QARN_FIELD_AT(SAPCheckLinks1, pSecondBuffer, 22);
QARN_FIELD_AT(SAPCheckLinks1, nSecondBufferLen, 26);

// API code 322, 218 bytes. abResult1..3 come back; the two 128-byte buffers are optional (NULL: no block).
struct SAPGetSealInfo1 {
  uint16_t nLead;                   // leading field, never read by the transport
  char* pszFirst;                   // zero-terminated string
  char* pszSecond;                  // zero-terminated string
  unsigned char* pBuffer;           // buffer of nBufferLen bytes
  uint16_t nBufferLen;              // byte count of pBuffer
  uint8_t abResult1[97];            // results
  unsigned char* pFirstBuffer128;   // optional 128-byte buffer
  uint8_t abResult2[2];             // results
  unsigned char* pSecondBuffer128;  // optional 128-byte buffer
  uint8_t abOpaque[88];             // opaque bytes
  uint8_t abResult3[7];             // results
};
QARN_RECORD_SIZE(SAPGetSealInfo1, 218);
QARN_FIELD_AT(SAPGetSealInfo1, nLead, 0);
QARN_FIELD_AT(SAPGetSealInfo1, pszFirst, 2);
QARN_FIELD_AT(SAPGetSealInfo1, pszSecond, 6);
QARN_FIELD_AT(SAPGetSealInfo1, pBuffer, 10);
QARN_FIELD_AT(SAPGetSealInfo1, nBufferLen, 14);
QARN_FIELD_AT(SAPGetSealInfo1, abResult1, 16);
QARN_FIELD_AT(SAPGetSealInfo1, pFirstBuffer128, 113);
QARN_FIELD_AT(SAPGetSealInfo1, abResult2, 117);
QARN_FIELD_AT(SAPGetSealInfo1, pSecondBuffer128, 119);
QARN_FIELD_AT(SAPGetSealInfo1, abOpaque, 123);
QARN_FIELD_AT(SAPGetSealInfo1, abResult3, 211);

// API code 323, 784 bytes.
struct SAPSetSealInfo {
  uint16_t nLead;         // leading field, never read by the transport
  uint8_t abOpaque[782];  // opaque bytes
};
QARN_RECORD_SIZE(SAPSetSealInfo, 784);
QARN_FIELD_AT(SAPSetSealInfo, nLead, 0);
QARN_FIELD_AT(SAPSetSealInfo, abOpaque, 2);

// API code 325, 110 bytes. abResult comes back.
struct SAPGetInfo1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszText;           // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  uint8_t abResult[99];    // results
};
QARN_RECORD_SIZE(SAPGetInfo1, 110);
QARN_FIELD_AT(SAPGetInfo1, nLead, 0);
QARN_FIELD_AT(SAPGetInfo1, pszText, 2);
QARN_FIELD_AT(SAPGetInfo1, pBuffer, 6);
QARN_FIELD_AT(SAPGetInfo1, nBufferLen, 10);
QARN_FIELD_AT(SAPGetInfo1, abResult, 11);

// API code 326, 18 bytes.
struct SAPGetSealMetric {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszText;           // zero-terminated string
  uint32_t* pFirstValue;   // a 4-byte value
  uint32_t* pSecondValue;  // a 4-byte value
  uint32_t* pThirdValue;   // a 4-byte value
};
QARN_RECORD_SIZE(SAPGetSealMetric, 18);
QARN_FIELD_AT(SAPGetSealMetric, nLead, 0);
QARN_FIELD_AT(SAPGetSealMetric, pszText, 2);
QARN_FIELD_AT(SAPGetSealMetric, pFirstValue, 6);
QARN_FIELD_AT(SAPGetSealMetric, pSecondValue, 10);
QARN_FIELD_AT(SAPGetSealMetric, pThirdValue, 14);

// API code 330, 114 bytes. abResult comes back.
struct SAPGetSealInFileInfo1 {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszText;                 // zero-terminated string
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint8_t nFirstBufferLen;       // byte count of pFirstBuffer
  uint8_t abOpaque[2];           // opaque bytes
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint16_t nSecondBufferLen;     // byte count of pSecondBuffer
  uint8_t abResult[95];          // results
};
QARN_RECORD_SIZE(SAPGetSealInFileInfo1, 114);
QARN_FIELD_AT(SAPGetSealInFileInfo1, nLead, 0);
QARN_FIELD_AT(SAPGetSealInFileInfo1, pszText, 2);
QARN_FIELD_AT(SAPGetSealInFileInfo1, pFirstBuffer, 6);
QARN_FIELD_AT(SAPGetSealInFileInfo1, nFirstBufferLen, 10);
QARN_FIELD_AT(SAPGetSealInFileInfo1, abOpaque, 11);
QARN_FIELD_AT(SAPGetSealInFileInfo1, pSecondBuffer, 13);
QARN_FIELD_AT(SAPGetSealInFileInfo1, nSecondBufferLen, 17);
QARN_FIELD_AT(SAPGetSealInFileInfo1, abResult, 19);

// API code 333, 19 bytes. abResult comes back.
struct SAPSplitCopys1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  uint8_t abOpaque[2];     // opaque bytes
  uint8_t abResult[2];     // results
};
QARN_RECORD_SIZE(SAPSplitCopys1, 19);
QARN_FIELD_AT(SAPSplitCopys1, nLead, 0);
QARN_FIELD_AT(SAPSplitCopys1, pszFirst, 2);
QARN_FIELD_AT(SAPSplitCopys1, pBuffer, 6);
QARN_FIELD_AT(SAPSplitCopys1, nBufferLen, 10);
QARN_FIELD_AT(SAPSplitCopys1, pszSecond, 11);
QARN_FIELD_AT(SAPSplitCopys1, abOpaque, 15);
QARN_FIELD_AT(SAPSplitCopys1, abResult, 17);

// API code 345, 13 bytes. abResult comes back.
struct SAPGetCopys1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszText;           // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  uint8_t abResult[2];     // results
};
QARN_RECORD_SIZE(SAPGetCopys1, 13);
QARN_FIELD_AT(SAPGetCopys1, nLead, 0);
QARN_FIELD_AT(SAPGetCopys1, pszText, 2);
QARN_FIELD_AT(SAPGetCopys1, pBuffer, 6);
QARN_FIELD_AT(SAPGetCopys1, nBufferLen, 10);
QARN_FIELD_AT(SAPGetCopys1, abResult, 11);

// API code 370, 17 bytes.
struct SAPAppCmd1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  uint8_t abOpaque[2];     // opaque bytes
  char* pszSecond;         // zero-terminated string
};
QARN_RECORD_SIZE(SAPAppCmd1, 17);
QARN_FIELD_AT(SAPAppCmd1, nLead, 0);
QARN_FIELD_AT(SAPAppCmd1, pszFirst, 2);
QARN_FIELD_AT(SAPAppCmd1, pBuffer, 6);
QARN_FIELD_AT(SAPAppCmd1, nBufferLen, 10);
QARN_FIELD_AT(SAPAppCmd1, abOpaque, 11);
QARN_FIELD_AT(SAPAppCmd1, pszSecond, 13);

// API code 384, 27 bytes.
struct SAPGetMetric1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszText;           // zero-terminated string
  uint8_t abOpaque1[2];    // opaque bytes
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  uint8_t abOpaque2[14];   // opaque bytes
};
QARN_RECORD_SIZE(SAPGetMetric1, 27);
QARN_FIELD_AT(SAPGetMetric1, nLead, 0);
QARN_FIELD_AT(SAPGetMetric1, pszText, 2);
QARN_FIELD_AT(SAPGetMetric1, abOpaque1, 6);
QARN_FIELD_AT(SAPGetMetric1, pBuffer, 8);
QARN_FIELD_AT(SAPGetMetric1, nBufferLen, 12);
QARN_FIELD_AT(SAPGetMetric1, abOpaque2, 13);

// API code 388, 21 bytes.
struct SAPExtractPages1 {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  char* pszSecond;         // zero-terminated string
  uint16_t* pElements;     // nElementCount 16-bit elements
  uint16_t nElementCount;  // element count of pElements
};
QARN_RECORD_SIZE(SAPExtractPages1, 21);
QARN_FIELD_AT(SAPExtractPages1, nLead, 0);
QARN_FIELD_AT(SAPExtractPages1, pszFirst, 2);
QARN_FIELD_AT(SAPExtractPages1, pBuffer, 6);
QARN_FIELD_AT(SAPExtractPages1, nBufferLen, 10);
QARN_FIELD_AT(SAPExtractPages1, pszSecond, 11);
QARN_FIELD_AT(SAPExtractPages1, pElements, 15);
QARN_FIELD_AT(SAPExtractPages1, nElementCount, 19);

// API code 391, 23 bytes. abResult comes back.
struct SAPGetAtttachMetric1 {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszText;                 // zero-terminated string
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint8_t nFirstBufferLen;       // byte count of pFirstBuffer
  uint8_t abOpaque[2];           // opaque bytes
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint16_t nSecondBufferLen;     // byte count of pSecondBuffer
  uint8_t abResult[4];           // results
};
QARN_RECORD_SIZE(SAPGetAtttachMetric1, 23);
QARN_FIELD_AT(SAPGetAtttachMetric1, nLead, 0);
QARN_FIELD_AT(SAPGetAtttachMetric1, pszText, 2);
QARN_FIELD_AT(SAPGetAtttachMetric1, pFirstBuffer, 6);
QARN_FIELD_AT(SAPGetAtttachMetric1, nFirstBufferLen, 10);
QARN_FIELD_AT(SAPGetAtttachMetric1, abOpaque, 11);
QARN_FIELD_AT(SAPGetAtttachMetric1, pSecondBuffer, 13);
QARN_FIELD_AT(SAPGetAtttachMetric1, nSecondBufferLen, 17);
QARN_FIELD_AT(SAPGetAtttachMetric1, abResult, 19);

// API codes 401, 404, 66 bytes. Bytes 0-15 and 40-65 come back, the leading field included.
struct SAPSysSetting1 {
  uint16_t nLead;                  // leading field, never read by the transport
  uint8_t abResult1[14];           // results
  unsigned char* apBuffers260[6];  // six 260-byte buffers
  uint8_t abResult2[26];           // results
};
QARN_RECORD_SIZE(SAPSysSetting1, 66);
QARN_FIELD_AT(SAPSysSetting1, nLead, 0);
QARN_FIELD_AT(SAPSysSetting1, abResult1, 2);
QARN_FIELD_AT(SAPSysSetting1, apBuffers260, 16);
QARN_FIELD_AT(SAPSysSetting1, abResult2, 40);

// API codes 414, 432, 72 bytes. Copied back whole, the leading field included.
struct SAPPrtSetting1 {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[70];  // inline data
};
QARN_RECORD_SIZE(SAPPrtSetting1, 72);
QARN_FIELD_AT(SAPPrtSetting1, nLead, 0);
QARN_FIELD_AT(SAPPrtSetting1, abData, 2);

// API codes 444, 456, 4 bytes. Copied back whole, the leading field included.
struct SAPPrtType1 {
  uint16_t nLead;     // leading field, never read by the transport
  uint8_t abData[2];  // inline data
};
QARN_RECORD_SIZE(SAPPrtType1, 4);
QARN_FIELD_AT(SAPPrtType1, nLead, 0);
QARN_FIELD_AT(SAPPrtType1, abData, 2);

// API code 505, 12 bytes. Copied back whole, the leading field included.
struct SAPGetTypefaceNum1 {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[10];  // inline data
};
QARN_RECORD_SIZE(SAPGetTypefaceNum1, 12);
QARN_FIELD_AT(SAPGetTypefaceNum1, nLead, 0);
QARN_FIELD_AT(SAPGetTypefaceNum1, abData, 2);

// API code 543, 10 bytes.
struct SAPGetTypefaceName1 {
  uint16_t nLead;             // leading field, never read by the transport
  uint8_t abOpaque[4];        // opaque bytes
  unsigned char* pBuffer128;  // 128-byte buffer
};
QARN_RECORD_SIZE(SAPGetTypefaceName1, 10);
QARN_FIELD_AT(SAPGetTypefaceName1, nLead, 0);
QARN_FIELD_AT(SAPGetTypefaceName1, abOpaque, 2);
QARN_FIELD_AT(SAPGetTypefaceName1, pBuffer128, 6);

// API codes 555, 567, 6 bytes. Copied back whole, the leading field included.
struct SAPFontSubst1 {
  uint16_t nLead;     // leading field, never read by the transport
  uint8_t abData[4];  // inline data
};
QARN_RECORD_SIZE(SAPFontSubst1, 6);
QARN_FIELD_AT(SAPFontSubst1, nLead, 0);
QARN_FIELD_AT(SAPFontSubst1, abData, 2);

// API code 601, 12 bytes. Copied back whole, the leading field included.
struct SAPGetPrtNum1 {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[10];  // inline data
};
QARN_RECORD_SIZE(SAPGetPrtNum1, 12);
QARN_FIELD_AT(SAPGetPrtNum1, nLead, 0);
QARN_FIELD_AT(SAPGetPrtNum1, abData, 2);

// API code 606, 19 bytes. Bytes 0-3 and 12-18 come back, the leading field included.
struct SAPGetPrtMetrics1 {
  uint16_t nLead;                   // leading field, never read by the transport
  uint8_t abResult1[2];             // results
  unsigned char* pFirstBuffer128;   // 128-byte buffer
  unsigned char* pSecondBuffer128;  // 128-byte buffer
  uint8_t abResult2[7];             // results
};
QARN_RECORD_SIZE(SAPGetPrtMetrics1, 19);
QARN_FIELD_AT(SAPGetPrtMetrics1, nLead, 0);
QARN_FIELD_AT(SAPGetPrtMetrics1, abResult1, 2);
QARN_FIELD_AT(SAPGetPrtMetrics1, pFirstBuffer128, 4);
QARN_FIELD_AT(SAPGetPrtMetrics1, pSecondBuffer128, 8);
QARN_FIELD_AT(SAPGetPrtMetrics1, abResult2, 12);

// API code 640, 3 bytes.
struct SAPSetCurPrt1 {
  uint16_t nLead;     // leading field, never read by the transport
  uint8_t abData[1];  // inline data
};
QARN_RECORD_SIZE(SAPSetCurPrt1, 3);
QARN_FIELD_AT(SAPSetCurPrt1, nLead, 0);
QARN_FIELD_AT(SAPSetCurPrt1, abData, 2);

// API codes 666, 668, 46 bytes. Copied back whole, the leading field included.
struct SAPPrtPara1 {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[44];  // inline data
};
QARN_RECORD_SIZE(SAPPrtPara1, 46);
QARN_FIELD_AT(SAPPrtPara1, nLead, 0);
QARN_FIELD_AT(SAPPrtPara1, abData, 2);

// API codes 678, 686, 525 bytes. Copied back whole, the leading field included.
struct SAPPrt1Para1 {
  uint16_t nLead;       // leading field, never read by the transport
  uint8_t abData[523];  // inline data
};
QARN_RECORD_SIZE(SAPPrt1Para1, 525);
QARN_FIELD_AT(SAPPrt1Para1, nLead, 0);
QARN_FIELD_AT(SAPPrt1Para1, abData, 2);

// API code 688, 13 bytes.
struct SAPRequestPrtPort1 {
  uint16_t nLead;           // leading field, never read by the transport
  uint8_t abOpaque[1];      // opaque bytes
  unsigned char* pBuffer5;  // 5-byte buffer
  unsigned char* pBuffer;   // buffer of nBufferLen bytes
  uint16_t nBufferLen;      // byte count of pBuffer
};
QARN_RECORD_SIZE(SAPRequestPrtPort1, 13);
QARN_FIELD_AT(SAPRequestPrtPort1, nLead, 0);
QARN_FIELD_AT(SAPRequestPrtPort1, abOpaque, 2);
QARN_FIELD_AT(SAPRequestPrtPort1, pBuffer5, 3);
QARN_FIELD_AT(SAPRequestPrtPort1, pBuffer, 7);
QARN_FIELD_AT(SAPRequestPrtPort1, nBufferLen, 11);

// API code 689, 14 bytes.
struct SAPPrtGeneralPara {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[12];  // inline data
};
QARN_RECORD_SIZE(SAPPrtGeneralPara, 14);
QARN_FIELD_AT(SAPPrtGeneralPara, nLead, 0);
QARN_FIELD_AT(SAPPrtGeneralPara, abData, 2);

// API code 737, 6 bytes. The string never comes back.
struct SAPSetProfileName1 {
  uint16_t nLead;  // leading field, never read by the transport
  char* pszText;   // zero-terminated string
};
QARN_RECORD_SIZE(SAPSetProfileName1, 6);
QARN_FIELD_AT(SAPSetProfileName1, nLead, 0);
QARN_FIELD_AT(SAPSetProfileName1, pszText, 2);

// API code 747, 5 bytes.
struct SAPReadProfile1 {
  uint16_t nLead;     // leading field, never read by the transport
  uint8_t abData[3];  // inline data
};
QARN_RECORD_SIZE(SAPReadProfile1, 5);
QARN_FIELD_AT(SAPReadProfile1, nLead, 0);
QARN_FIELD_AT(SAPReadProfile1, abData, 2);

// API code 777, 5 bytes.
struct SAPWriteProfile1 {
  uint16_t nLead;     // leading field, never read by the transport
  uint8_t abData[3];  // inline data
};
QARN_RECORD_SIZE(SAPWriteProfile1, 5);
QARN_FIELD_AT(SAPWriteProfile1, nLead, 0);
QARN_FIELD_AT(SAPWriteProfile1, abData, 2);

// API code 1001, 10 bytes.
struct SAPEncryptFile {
  uint16_t nLead;   // leading field, never read by the transport
  char* pszFirst;   // zero-terminated string
  char* pszSecond;  // zero-terminated string
};
QARN_RECORD_SIZE(SAPEncryptFile, 10);
QARN_FIELD_AT(SAPEncryptFile, nLead, 0);
QARN_FIELD_AT(SAPEncryptFile, pszFirst, 2);
QARN_FIELD_AT(SAPEncryptFile, pszSecond, 6);

// API code 1002, 10 bytes.
struct SAPDecryptFile {
  uint16_t nLead;   // leading field, never read by the transport
  char* pszFirst;   // zero-terminated string
  char* pszSecond;  // zero-terminated string
};
QARN_RECORD_SIZE(SAPDecryptFile, 10);
QARN_FIELD_AT(SAPDecryptFile, nLead, 0);
QARN_FIELD_AT(SAPDecryptFile, pszFirst, 2);
QARN_FIELD_AT(SAPDecryptFile, pszSecond, 6);

// API code 1003, 6 bytes.
struct SAPSetSearchSealOption {
  uint16_t nLead;       // leading field, never read by the transport
  uint8_t abOpaque[4];  // opaque bytes
};
QARN_RECORD_SIZE(SAPSetSearchSealOption, 6);
QARN_FIELD_AT(SAPSetSearchSealOption, nLead, 0);
QARN_FIELD_AT(SAPSetSearchSealOption, abOpaque, 2);

// API code 1004, 10 bytes. Both addresses reach the server as zero.
struct SAPSetSealFun {
  uint16_t nLead;              // leading field, never read by the transport
  void* pFirstCallerAddress;   // an address of the application's own
  void* pSecondCallerAddress;  // an address of the application's own
};
QARN_RECORD_SIZE(SAPSetSealFun, 10);
QARN_FIELD_AT(SAPSetSealFun, nLead, 0);
QARN_FIELD_AT(SAPSetSealFun, pFirstCallerAddress, 2);
QARN_FIELD_AT(SAPSetSealFun, pSecondCallerAddress, 6);

// API code 1005, 18 bytes. NULL strings get no block at all.
struct SAPSearchSeal {
  uint16_t nLead;                   // leading field, never read by the transport
  char* pszFirst;                   // optional string
  char* pszSecond;                  // optional string
  unsigned char* pFirstBuffer128;   // 128-byte buffer
  unsigned char* pSecondBuffer128;  // 128-byte buffer
};
QARN_RECORD_SIZE(SAPSearchSeal, 18);
QARN_FIELD_AT(SAPSearchSeal, nLead, 0);
QARN_FIELD_AT(SAPSearchSeal, pszFirst, 2);
QARN_FIELD_AT(SAPSearchSeal, pszSecond, 6);
QARN_FIELD_AT(SAPSearchSeal, pFirstBuffer128, 10);
QARN_FIELD_AT(SAPSearchSeal, pSecondBuffer128, 14);

// API code 1006, 34 bytes. The data buffer holds *pLengthCell bytes, read when the package is made.
struct SAPGetEncryptPicOfSeal {
  uint16_t nLead;         // leading field, never read by the transport
  uint8_t abOpaque1[16];  // opaque bytes
  unsigned char* pData;   // data buffer
  uint32_t* pLengthCell;  // byte count of pData
  uint32_t* pValue;       // a 4-byte value
  uint8_t abOpaque2[4];   // opaque bytes
};
QARN_RECORD_SIZE(SAPGetEncryptPicOfSeal, 34);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, nLead, 0);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, abOpaque1, 2);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, pData, 18);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, pLengthCell, 22);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, pValue, 26);
QARN_FIELD_AT(SAPGetEncryptPicOfSeal, abOpaque2, 30);

// API code 1007, 19 bytes.
struct SAPDetachAllFilesFromGwFile {
  uint16_t nLead;          // leading field, never read by the transport
  char* pszFirst;          // zero-terminated string
  char* pszSecond;         // zero-terminated string
  unsigned char* pBuffer;  // buffer of nBufferLen bytes
  uint8_t nBufferLen;      // byte count of pBuffer
  uint32_t* pValue;        // a 4-byte value
};
QARN_RECORD_SIZE(SAPDetachAllFilesFromGwFile, 19);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, nLead, 0);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, pszFirst, 2);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, pszSecond, 6);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, pBuffer, 10);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, nBufferLen, 14);
QARN_FIELD_AT(SAPDetachAllFilesFromGwFile, pValue, 15);

// API code 1008, 29 bytes.
struct SAPInsertStmPara {
  uint16_t nLead;                // leading field, never read by the transport
  char* pszFirst;                // zero-terminated string
  unsigned char* pFirstBuffer;   // buffer of nFirstBufferLen bytes
  uint8_t nFirstBufferLen;       // byte count of pFirstBuffer
  uint8_t abOpaque1[2];          // opaque bytes
  char* pszSecond;               // zero-terminated string
  unsigned char* pSecondBuffer;  // buffer of nSecondBufferLen bytes
  uint32_t nSecondBufferLen;     // byte count of pSecondBuffer
  uint8_t abOpaque2[4];          // opaque bytes
};
QARN_RECORD_SIZE(SAPInsertStmPara, 29);
QARN_FIELD_AT(SAPInsertStmPara, nLead, 0);
QARN_FIELD_AT(SAPInsertStmPara, pszFirst, 2);
QARN_FIELD_AT(SAPInsertStmPara, pFirstBuffer, 6);
QARN_FIELD_AT(SAPInsertStmPara, nFirstBufferLen, 10);
QARN_FIELD_AT(SAPInsertStmPara, abOpaque1, 11);
QARN_FIELD_AT(SAPInsertStmPara, pszSecond, 13);
QARN_FIELD_AT(SAPInsertStmPara, pSecondBuffer, 17);
QARN_FIELD_AT(SAPInsertStmPara, nSecondBufferLen, 21);
QARN_FIELD_AT(SAPInsertStmPara, abOpaque2, 25);

// API code 1009, 29 bytes. abResult comes back.
struct SAPGetSealPosPara {
  uint16_t nLead;            // leading field, never read by the transport
  char* pszText;             // zero-terminated string
  unsigned char* pBuffer;    // buffer of nBufferLen bytes
  uint8_t nBufferLen;        // byte count of pBuffer
  uint8_t abOpaque[10];      // opaque bytes
  uint8_t abResult[4];       // results
  unsigned char* pBuffer16;  // 16-byte buffer
};
QARN_RECORD_SIZE(SAPGetSealPosPara, 29);
QARN_FIELD_AT(SAPGetSealPosPara, nLead, 0);
QARN_FIELD_AT(SAPGetSealPosPara, pszText, 2);
QARN_FIELD_AT(SAPGetSealPosPara, pBuffer, 6);
QARN_FIELD_AT(SAPGetSealPosPara, nBufferLen, 10);
QARN_FIELD_AT(SAPGetSealPosPara, abOpaque, 11);
QARN_FIELD_AT(SAPGetSealPosPara, abResult, 21);
QARN_FIELD_AT(SAPGetSealPosPara, pBuffer16, 25);

// API code 1010, 10 bytes.
struct SAPIsFormalGWFilePara {
  uint16_t nLead;       // leading field, never read by the transport
  char* pszText;        // zero-terminated string
  uint8_t abOpaque[4];  // opaque bytes
};
QARN_RECORD_SIZE(SAPIsFormalGWFilePara, 10);
QARN_FIELD_AT(SAPIsFormalGWFilePara, nLead, 0);
QARN_FIELD_AT(SAPIsFormalGWFilePara, pszText, 2);
QARN_FIELD_AT(SAPIsFormalGWFilePara, abOpaque, 6);

// API code 1011, 14 bytes.
struct SAPCheckEPFPassword {
  uint16_t nLead;       // leading field, never read by the transport
  char* pszText;        // zero-terminated string
  uint8_t abOpaque[8];  // opaque bytes
};
QARN_RECORD_SIZE(SAPCheckEPFPassword, 14);
QARN_FIELD_AT(SAPCheckEPFPassword, nLead, 0);
QARN_FIELD_AT(SAPCheckEPFPassword, pszText, 2);
QARN_FIELD_AT(SAPCheckEPFPassword, abOpaque, 6);

// API code 1012, 18 bytes.
struct SAPSetForcedPageSize {
  uint16_t nLead;      // leading field, never read by the transport
  uint8_t abData[16];  // inline data
};
QARN_RECORD_SIZE(SAPSetForcedPageSize, 18);
QARN_FIELD_AT(SAPSetForcedPageSize, nLead, 0);
QARN_FIELD_AT(SAPSetForcedPageSize, abData, 2);

// API code 1013, 421 bytes. Copied back whole, the leading field included.
struct SAPSetPrintingText {
  uint16_t nLead;       // leading field, never read by the transport
  uint8_t abData[419];  // inline data
};
QARN_RECORD_SIZE(SAPSetPrintingText, 421);
QARN_FIELD_AT(SAPSetPrintingText, nLead, 0);
QARN_FIELD_AT(SAPSetPrintingText, abData, 2);

// API code 2000, 14 bytes.
struct SAPMergeFiles {
  uint16_t nLead;   // leading field, never read by the transport
  char* pszFirst;   // zero-terminated string
  char* pszSecond;  // zero-terminated string
  char* pszThird;   // zero-terminated string
};
QARN_RECORD_SIZE(SAPMergeFiles, 14);
QARN_FIELD_AT(SAPMergeFiles, nLead, 0);
QARN_FIELD_AT(SAPMergeFiles, pszFirst, 2);
QARN_FIELD_AT(SAPMergeFiles, pszSecond, 6);
QARN_FIELD_AT(SAPMergeFiles, pszThird, 10);

// The USB printer description, 8 bytes, without API code: it travels through
// its own package constructor. Nothing of it ever comes back.
struct USBPrinter {
  uint8_t abOpaque[4];     // opaque bytes
  USBPrinterNode* pChain;  // first printer node, NULL for an empty chain
};
QARN_RECORD_SIZE(USBPrinter, 8);
QARN_FIELD_AT(USBPrinter, abOpaque, 0);
QARN_FIELD_AT(USBPrinter, pChain, 4);

#pragma pack(pop)

#undef QARN_RECORD_SIZE
#undef QARN_FIELD_AT
