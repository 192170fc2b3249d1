#pragma once
/** \file
    Export markers of the qarnplus library. */

/** Marks what the library exports: dllexport while building the DLL,
    dllimport for its users, default visibility elsewhere. */
#if defined(_WIN32)
#if defined(QARNPLUS_BUILDING)
#define QARNPLUS_API __declspec(dllexport)
#else
#define QARNPLUS_API __declspec(dllimport)
#endif
#else
#define QARNPLUS_API __attribute__((visibility("default")))
#endif
