// COREKIT_EXPORT marks what the JSON library shows to hosts. The JSON library is built into
// librvkcore, so it follows that library's build (RVKCORE_BUILDING while building it,
// RVKCORE_SHARED for those who link it), but it has its own macro: it sits below the library's code
// and includes nothing of it.
#pragma once

#if defined(_WIN32)
#if defined(RVKCORE_BUILDING)
#define COREKIT_EXPORT __declspec(dllexport)
#elif defined(RVKCORE_SHARED)
#define COREKIT_EXPORT __declspec(dllimport)
#else
#define COREKIT_EXPORT
#endif
#else
#define COREKIT_EXPORT __attribute__((visibility("default")))
#endif
