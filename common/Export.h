// RVK_EXPORT marks the classes and functions that make up librvkcore's external interface; the
// library is built with hidden visibility, so everything else stays inside it.
#pragma once

#if defined(_WIN32)
#if defined(RVKCORE_BUILDING)
#define RVK_EXPORT __declspec(dllexport)
#elif defined(RVKCORE_SHARED)
#define RVK_EXPORT __declspec(dllimport)
#else
#define RVK_EXPORT
#endif
#else
#define RVK_EXPORT __attribute__((visibility("default")))
#endif
