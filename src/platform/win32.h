// The Win32 file and code-page services the add-in calls, by their Win32 names. On Windows they
// are the system's own; elsewhere a small layer of ours provides the same nine with the behaviour
// the add-in relies on. Nothing else in the add-in knows which platform it runs on.
#ifndef QELALTF_PLATFORM_WIN32_H
#define QELALTF_PLATFORM_WIN32_H

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "platform/posix/win32_services.h"
#endif

#endif
