#pragma once

/// \file
/// SHAREDLIB_API, the export macro of the library.

// The one export macro of the library: everything else is hidden.
#if defined(SHAREDLIB_STATIC)
#define SHAREDLIB_API
#elif defined(_WIN32)
#if defined(SHAREDLIB_BUILDING)
#define SHAREDLIB_API __declspec(dllexport)
#else
#define SHAREDLIB_API __declspec(dllimport)
#endif
#else
/// Marks a declaration as exported from the library (visibility "default", or dllexport/dllimport on Windows); empty in a static build.
#define SHAREDLIB_API __attribute__((visibility("default")))
#endif
