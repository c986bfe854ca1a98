// Export macro of the platform stand-in library (librvkplatform).
//
// On a real host the string class and the file utilities come from the host's own SDK; here they
// live in a shared library of their own, built with hidden visibility, so every class and function
// meant for callers is marked with RVKPLATFORM_EXPORT on purpose.
#pragma once

#if defined(_WIN32)
#if defined(RVKPLATFORM_BUILDING)
#define RVKPLATFORM_EXPORT __declspec(dllexport)
#else
#define RVKPLATFORM_EXPORT __declspec(dllimport)
#endif
#else
#define RVKPLATFORM_EXPORT __attribute__((visibility("default")))
#endif
