// One export macro for everything a host may use from the shared library.
#pragma once

#if defined(_WIN32)
#if defined(ZUGEN_BUILDING)
#define ZUGEN_API __declspec(dllexport)
#elif defined(ZUGEN_STATIC)
#define ZUGEN_API
#else
#define ZUGEN_API __declspec(dllimport)
#endif
#else
#define ZUGEN_API __attribute__((visibility("default")))
#endif
