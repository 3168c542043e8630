// Export control of Flumera.dll: the classes and functions the host (the
// outside streamer filter) links against.
#pragma once

#ifdef FLUMERA_BUILD
#define FLUMERA_API __declspec(dllexport)
#else
#define FLUMERA_API __declspec(dllimport)
#endif
