#pragma once
// The OS layer: the one interface through which the rest of qarnplus reaches
// the operating system. platform/posix/ and platform/win32/ implement it; no
// other code includes <windows.h>, <unistd.h> or <sys/*.h>.
//
// Every function that can fail returns a Windows system error code (0 on
// success), also on POSIX, where errno is translated (ErrorFromErrno).
// Handles are the Windows HANDLE type on both platforms; on POSIX each kind of
// handle is an opaque value owned by this layer and released only through the
// matching Close/Release function below.

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "qarnplus/wintypes.h"

namespace qarn::os {

// Windows system error codes that the library stores or throws.
enum ErrorCode : uint32_t {
  kErrorSuccess = 0,
  kErrorFileNotFound = 2,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorGenFailure = 31,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorBusy = 170,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
  kErrorPipeBusy = 231,
  kErrorMoreData = 234,
  kErrorProcessAborted = 1067,
  kErrorTimeout = 1460,
};

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// ---- Clocks ---------------------------------------------------------------

// Milliseconds since an arbitrary start, wrapping at 32 bits (GetTickCount).
uint32_t TickCount();
// A monotonic high-resolution counter (QueryPerformanceCounter).
int64_t PerformanceCounter();

// ---- The lock of the process-wide tables ---------------------------------

// One reader-writer lock for the library's process-wide tables (the session
// table): readers share it, a writer holds it alone. Statically initialised,
// so it may be taken from static initialisation on; not recursive.
void TablesLockShared();
void TablesUnlockShared();
void TablesLockExclusive();
void TablesUnlockExclusive();

// Leaves `code` where the platform keeps a thread's last error for the
// application: SetLastError on Windows, where programs read it with
// GetLastError. Nothing on POSIX, where errno belongs to the C library.
void SetThreadError(uint32_t code);

// ---- Paths ----------------------------------------------------------------

// The separator of the platform's paths: '\\' on Windows, '/' on POSIX.
extern const char kPathSeparator;

// Full path of the running executable (GetModuleFileNameA(NULL)). Returns an
// error code; the path is zero-terminated and cut to `size` - 1 characters.
uint32_t ExecutablePath(char* out, size_t size);

// The server executable inside `folder` (already without its trailing
// separator) for the digit suffix `digits`: "%s\qarn_svr%s.exe" on Windows,
// "%s/qarn_svr%s" on POSIX. Returns the snprintf result.
int FormatServerExecutable(char* out, size_t size, const char* folder, const char* digits);

// ---- Environment ----------------------------------------------------------

// The environment variable `name`, or NULL. On POSIX also NULL in a process
// that runs with privileges its caller does not have (set-user-id, file
// capabilities), so a caller cannot steer such a program's files with it.
const char* EnvironmentValue(const char* name);

// ---- Namespace of object names (POSIX) ------------------------------------

// QARN_NS from the environment, else "<pid>-<start>": the decimal process id
// and the process's start time, so that a process that is given a dead
// process's id never meets its names. Read once per process (again in the
// child of a fork): a later change to QARN_NS does not move its names. Windows keeps the system's global
// names and returns "" here.
const char* ObjectNamespace();

// ---- Objects left by processes that died (POSIX) --------------------------

// Called with the path of each stale object found.
using StaleObjectVisitor = void (*)(const char* path, void* context);

// Finds this user's blocks and start events whose "<pid>-<start>" namespace
// names a process that no longer runs, and sockets "pipe.<pid>" in the
// user's socket folder whose server no longer runs. Unless `dry_run`, removes
// each; calls `visit` (may be NULL) for each either way and returns how many
// there were. Names without that form (a namespace the user set) and this
// process's own namespace are never touched. Nothing to do on Windows, where
// the system removes named objects with their last handle.
size_t RemoveStaleObjects(bool dry_run, StaleObjectVisitor visit, void* context);

// RemoveStaleObjects once per process, on the first call; the library calls
// it before it first creates a block or starts a server.
void RemoveStaleObjectsOnce();

// ---- Start event ----------------------------------------------------------

enum class WaitResult { kSignalled, kTimedOut, kProcessExited, kFailed };

// Creates the named auto-reset start event, not signalled. A name that is
// taken already fails with kErrorAlreadyExists, on both platforms.
uint32_t EventCreate(const char* name, HANDLE* event);
// Waits up to `timeout_ms` (kWaitForever: no limit). When `process` is not
// NULL the wait also ends, with kProcessExited, as soon as that process ends.
WaitResult EventWait(HANDLE event, uint32_t timeout_ms, HANDLE process);
// Closes the event; the creator's close also removes the name.
void EventClose(HANDLE event);
// Server side: opens the event of that name, signals it once, closes it.
uint32_t EventSignal(const char* name);

// ---- Server process -------------------------------------------------------

struct ServerLaunch {
  const char* executable;    // server executable path
  int option;                // the number after -l
  const char* server_dir;    // server folder, trailing separator removed
  const char* suffix;        // the suffix exactly as the application gave it
  const char* app_dir;       // the application's folder
  const char* event_name;    // start event name
  const char* command_line;  // the Windows command-line text built from the above
};

// Starts the server: CreateProcessA(command_line) with CREATE_NO_WINDOW |
// REALTIME_PRIORITY_CLASS on Windows; posix_spawn with the argv
// {exe, "-l", option, server_dir, suffix, app_dir, event_name} and
// QARN_NS=<ObjectNamespace()> added to the environment on POSIX.
uint32_t ProcessStart(const ServerLaunch& launch, HANDLE* process, uint32_t* pid);
// True once the process has ended.
bool ProcessHasExited(HANDLE process);
// Waits up to `timeout_ms` for the process to end; true once it has.
bool ProcessAwaitExit(HANDLE process, uint32_t timeout_ms);
// Releases the handle without waiting for the process. On POSIX the server
// is not the application's child but an orphan that init reaps, so it never
// stays a zombie and no SIGCHLD handler is needed.
void ProcessClose(HANDLE process);
// This process's id.
uint32_t CurrentProcessId();

// ---- Message pipe, client end ---------------------------------------------

// One attempt to open the pipe of server `server_pid` (CreateFileA). Fails
// with kErrorFileNotFound while it does not exist yet, kErrorPipeBusy while
// the listener is busy; kErrorAccessDenied when the pipe's server is not
// `server_pid` (on POSIX also when it is not of this user). On Windows the
// server may identify the client but never act as it.
uint32_t PipeOpen(uint32_t server_pid, HANDLE* pipe);
// WaitNamedPipeA: waits until the busy pipe can take a connection.
uint32_t PipeWaitBusy(uint32_t server_pid, uint32_t timeout_ms);
// Switches the client end to message read mode.
uint32_t PipeSetMessageMode(HANDLE pipe);

// ---- Message pipe, both ends ----------------------------------------------

// Writes one whole message; a short write fails.
uint32_t PipeWrite(HANDLE pipe, const void* data, uint32_t size);
// Reads one message of at most `capacity` bytes into `buffer`. A longer
// message fails with kErrorMoreData, and its rest is discarded on both
// platforms, so the next read starts at the next message; a vanished peer
// fails with kErrorBrokenPipe.
uint32_t PipeRead(HANDLE pipe, void* buffer, uint32_t capacity, uint32_t* length);
// Waits up to `timeout_ms` until a read would not block: a message is there,
// or the peer is gone (the read then says so). kErrorTimeout when neither
// happened in time.
uint32_t PipeWaitReadable(HANDLE pipe, uint32_t timeout_ms);
void PipeClose(HANDLE pipe);

// ---- Message pipe, server end ---------------------------------------------

// The environment variable through which the library tells a server it
// starts on Windows which process its client is (the decimal pid).
constexpr char kApplicationPidVariable[] = "QARN_APPLICATION_PID";

// Creates the listening pipe named after `own_pid`; on Windows the first and
// only instance of that name, open to this user alone.
uint32_t PipeListen(uint32_t own_pid, HANDLE* listener);
// Waits for the one client; on Windows a client that is not the process
// kApplicationPidVariable names (when it is set) is dropped and the wait goes
// on; on POSIX a peer of another user is refused, and
// the wait ends with kErrorBrokenPipe once the application this server was
// started for (the process its namespace names) has ended, or after two
// minutes, when an application that is still there would have given up.
uint32_t PipeAccept(HANDLE listener, HANDLE* pipe);
// Closes the listener and removes its name.
void PipeListenerClose(HANDLE listener);

// The pipe's name for `pid`: "\\.\Pipe\<pid>" on Windows, the socket path on
// POSIX. For messages and tests.
int PipeName(uint32_t pid, char* out, size_t size);

// ---- Shared mappings ------------------------------------------------------

// CreateFileMappingA on the paging file under `block_name`; an existing
// mapping of that name is attached unchanged.
uint32_t MappingCreate(const char* block_name, uint32_t size, HANDLE* mapping);
// OpenFileMappingA of an existing mapping.
uint32_t MappingOpen(const char* block_name, HANDLE* mapping);
// MapViewOfFile of `size` bytes from offset 0; size 0 maps the whole mapping.
uint32_t MappingMapView(HANDLE mapping, uint32_t size, void** view);
// UnmapViewOfFile of the view that MappingMapView gave for this mapping.
void MappingUnmapView(HANDLE mapping, void* view);
// CloseHandle; the last creating handle of a name in this process also
// removes the name (POSIX).
void MappingClose(HANDLE mapping);
// The bytes that `view` (this mapping's view) may be used for: the size it
// was mapped with, for size 0 the mapping's size (on Windows the section's
// size as the system keeps it: Wine keeps whole pages); 0 without a view.
// What a process that opened a block of another process may touch, whatever
// that process's record claims.
size_t MappingViewSize(HANDLE mapping, const void* view);

// ---- Settings -------------------------------------------------------------

// A number among the server settings (HKLM "SOFTWARE\TALVEX\QARN_SVR" on
// Windows, ${QARN_CONFIG:-/etc/qarn/qarn_svr.conf} on POSIX), such as
// "Debug". Returns an error code when the key or value is missing or
// unreadable.
uint32_t ReadNumberSetting(const char* name, uint32_t* value);
inline uint32_t ReadDebugSetting(uint32_t* value) { return ReadNumberSetting("Debug", value); }

// ---- Trace file ----------------------------------------------------------

// Opens `path` for appending, for the message trace, so that a name another
// local user planted cannot redirect or block the writes: a symbolic link or
// reparse point is not followed, a FIFO or device is not waited on, a new
// file is private to this user (0600; an owner-only access list on
// Windows), and anything but a regular file of this user with a single name
// is refused with kErrorAccessDenied (on POSIX the null device is allowed). Not inherited by started
// processes. Returns NULL and the error code in `error` when it fails.
FILE* TraceFileOpen(const char* path, uint32_t* error);

// ---- Fault texts ----------------------------------------------------------

// LoadStringA of identifier `id` (2000 to 2020) from the library's own texts.
// Returns the number of characters copied, 0 when there is no such text.
int LoadFaultText(unsigned id, char* buffer, int size);

// ---- Fault translation ----------------------------------------------------

using Translator = void (*)(unsigned int, EXCEPTION_POINTERS*);

// Installs `translator` for the calling thread (NULL removes it) and returns
// the one that was installed before on this thread. While a translator is
// installed, a processor fault on the thread calls it at the point of the
// fault with the exception record and the context; the translator throws.
Translator SetThreadTranslator(Translator translator);

}  // namespace qarn::os
