// Basic types and macros shared by every host header.
#pragma once

#include <cstddef>

#ifdef _WIN32
#define PLUGIN_EXPORT __declspec(dllexport)
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

typedef float float3[3];

class MStatus;

typedef void* (*MCreatorFunction)();
typedef MStatus (*MInitializeFunction)();

// The host's own records stay opaque to plug-ins: the public classes only carry pointers to them.
namespace mayahost {
namespace detail {
class Access;
struct HostObject;
struct Node;
struct BlockValues;
}  // namespace detail
}  // namespace mayahost
