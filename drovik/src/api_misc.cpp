// Exported entry points: memory and version.
#include "api_support.h"
#include "drovik.h"
#include "memory.h"

using namespace drovik;

extern "C" {

DROVIK_API void *DROVIK_CALL Drovik_AllocateMemory(int32_t size) {
    return guarded<void *>(nullptr, [&] { return allocateBlock(size); });
}

DROVIK_API void DROVIK_CALL Drovik_FreeMemory(void *block) {
    guardedVoid([&] { freeBlock(block); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_GetVersion(void) {
    return DROVIK_VERSION;
}

}  // extern "C"
