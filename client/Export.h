// RVKCLIENT_API marks what makes up librvkclient's external interface; the kit is built with
// hidden visibility, so everything else stays inside it.
#pragma once

#if defined(_WIN32)
#if defined(RVKCLIENT_BUILDING)
#define RVKCLIENT_API __declspec(dllexport)
#elif defined(RVKCLIENT_SHARED)
#define RVKCLIENT_API __declspec(dllimport)
#else
#define RVKCLIENT_API
#endif
#else
#define RVKCLIENT_API __attribute__((visibility("default")))
#endif
