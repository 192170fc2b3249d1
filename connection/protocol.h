#pragma once
// Every kind of message on the pipe, byte-packed: the one place where sizes
// and offsets are written down. The library, the stand-in server and the
// client build and read messages with these, so a change on one side is a
// change on the other, and a layout that moves does not compile.

#include <stddef.h>
#include <stdint.h>

namespace qarn::wire {

#pragma pack(push, 1)

struct Header {
  char szInterface[65];
  char szMethod[65];
  int64_t llStart;
  int64_t llEnd;
};

// "Shutdown", "Init", "Clean": the header alone, both ways.
using Bare = Header;

// "GetVersion", "GetLastError": 0 in the request; the reply's number.
struct Number {
  Header header;
  int32_t nValue;
};

// "Invoke": the request text and its zero; the reply's text at the same place.
struct Invoke {
  Header header;
  char szText[1];  // as long as the text
};

// "FormatMessage" (named apart from the Windows macro): the error code, room for the reply's text after it.
struct FormatMessageCall {
  Header header;
  int32_t nError;
  char szText[513];
};

// "GetTagNameByID": the tag, room for the reply's name after it.
struct TagNameById {
  Header header;
  int32_t nTag;
  char szName[257];
};

// "GetTagIDByName": at most 256 characters of name, zeros to the end; the
// reply's tag at the name's place.
struct TagIdByName {
  Header header;
  char szName[261];
};
constexpr size_t kTagNameRoom = 257;

// "CreateFilter": the factory; the reply's filter identity after it.
struct CreateFilter {
  Header header;
  uint32_t nFactory;
  uint32_t nIdentity;
};

// "GetFilterName", name query: the identity, room for the reply's name.
struct FilterName {
  Header header;
  uint32_t nIdentity;
  char szName[16];
};

// "GetFilterName", release: the identity alone. The server tells it from the
// query by its length.
struct FilterRelease {
  Header header;
  uint32_t nIdentity;
};

struct Rect {
  int32_t left, top, right, bottom;
};

// Callback messages, sent by the server while a request waits and answered
// with the same bytes, results filled in.
struct GetDocPasswd {
  Header header;
  uint32_t pfnFunction;
  int32_t nResult;
  uint8_t password[256];
  uint32_t nLength;
  char szDocName[261];
};

struct EnumSelectedText {
  Header header;
  uint32_t pfnFunction;
  int32_t nResult;
  uint16_t nNumber;
  Rect rect;
  int32_t nValue;
};

struct DspAbsentPhoto {
  Header header;
  uint32_t pfnFunction;
  uint8_t bResult;
  uint32_t nContext;
  Rect rect;
  uint32_t nNumber;
  char szText[257];
};

#pragma pack(pop)

// The sizes and offsets both sides depend on.
static_assert(sizeof(Header) == 146 && offsetof(Header, szMethod) == 65 && offsetof(Header, llStart) == 130 &&
              offsetof(Header, llEnd) == 138);
static_assert(sizeof(Number) == 150 && offsetof(Number, nValue) == 146);
static_assert(offsetof(Invoke, szText) == 146);
static_assert(sizeof(FormatMessageCall) == 663 && offsetof(FormatMessageCall, szText) == 150);
static_assert(sizeof(TagNameById) == 407 && offsetof(TagNameById, szName) == 150);
static_assert(sizeof(TagIdByName) == 407 && offsetof(TagIdByName, szName) == 146);
static_assert(sizeof(CreateFilter) == 154 && offsetof(CreateFilter, nIdentity) == 150);
static_assert(sizeof(FilterName) == 166 && offsetof(FilterName, szName) == 150);
static_assert(sizeof(FilterRelease) == 150);
static_assert(sizeof(GetDocPasswd) == 675 && offsetof(GetDocPasswd, nResult) == 150 &&
              offsetof(GetDocPasswd, password) == 154 && offsetof(GetDocPasswd, nLength) == 410 &&
              offsetof(GetDocPasswd, szDocName) == 414);
static_assert(sizeof(EnumSelectedText) == 176 && offsetof(EnumSelectedText, nNumber) == 154 &&
              offsetof(EnumSelectedText, rect) == 156 && offsetof(EnumSelectedText, nValue) == 172);
static_assert(sizeof(DspAbsentPhoto) == 432 && offsetof(DspAbsentPhoto, bResult) == 150 &&
              offsetof(DspAbsentPhoto, nContext) == 151 && offsetof(DspAbsentPhoto, rect) == 155 &&
              offsetof(DspAbsentPhoto, nNumber) == 171 && offsetof(DspAbsentPhoto, szText) == 175);

}  // namespace qarn::wire
