// How the bound entry points of the cluster library are declared. Each is a global function
// pointer in namespace Cluster, named exactly like the library's export
// (Cluster::Drovik_Master_DoJob) and null until LoadClusterLibrary finds the name. The namespace
// keeps the pointers apart from the functions of drovik.h, which a program that also links the
// library sees under the same names.
#pragma once

#include "drovik.h"

namespace Cluster {
// The type of entry points that drovik.h does not declare. Such a pointer is only stored.
using ReservedEntryPoint = void(DROVIK_CALL *)();
}  // namespace Cluster

// The exact type of a declared entry point comes from the library's own header, so the two cannot
// drift apart.
#define CLUSTER_DECLARE_TYPED(Name) extern decltype(&::Drovik_##Name) Drovik_##Name;
#define CLUSTER_DECLARE_RESERVED(Name) extern ReservedEntryPoint Drovik_##Name;
#define CLUSTER_DEFINE_TYPED(Name) decltype(&::Drovik_##Name) Drovik_##Name = nullptr;
#define CLUSTER_DEFINE_RESERVED(Name) ReservedEntryPoint Drovik_##Name = nullptr;
