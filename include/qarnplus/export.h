#pragma once
/* Export markers of the qarnplus library. */

#if defined(_WIN32)
#if defined(QARNPLUS_BUILDING)
#define QARNPLUS_API __declspec(dllexport)
#else
#define QARNPLUS_API __declspec(dllimport)
#endif
#else
#define QARNPLUS_API __attribute__((visibility("default")))
#endif
