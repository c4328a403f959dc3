// Exported entry points: parameter lists.
#include <cstring>
#include <limits>

#include "api_support.h"
#include "drovik.h"
#include "memory.h"
#include "shared_list.h"

using namespace drovik;

namespace {

// Runs f on the list under its lock; the failure value for an unknown list.
template <class R, class F>
R withList(intptr_t handle, R onFailure, F &&f) {
    return guarded<R>(onFailure, [&]() -> R {
        auto shared = lists().find(handle);
        if (!shared)
            return onFailure;
        std::lock_guard guard(shared->lock);
        return f(shared->list);
    });
}

template <class R>
R numberAt(intptr_t handle, int32_t index, int32_t type) {
    return withList<R>(handle, R{}, [&](ParamList &l) -> R {
        const ParamList::Value *v = index < 0 ? nullptr : l.at(static_cast<size_t>(index), type);
        if (v == nullptr)
            return R{};
        if constexpr (std::is_same_v<R, float>)
            return v->single;
        else if constexpr (std::is_same_v<R, double>)
            return v->real;
        else
            return static_cast<R>(v->integer);
    });
}

// An empty memory value still has an address, so that it reads differently from a missing one.
uint8_t gEmptyValue = 0;

}  // namespace

extern "C" {

DROVIK_API intptr_t DROVIK_CALL Drovik_Parameter_New(void) {
    return guarded<intptr_t>(0, [] { return lists().add(std::make_shared<SharedList>()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_Count(intptr_t list) {
    return withList<int32_t>(list, 0, [](ParamList &l) { return static_cast<int32_t>(l.count()); });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddMem(intptr_t list, void *block, int32_t size) {
    return guarded<int32_t>(0, [&]() -> int32_t {
        // The block is the list's from now on, so it is released on every path.
        std::optional<int64_t> capacity = blockSize(block);
        struct Release {
            void *b;
            ~Release() { freeBlock(b); }
        } release{capacity ? block : nullptr};
        bool validBlock = capacity ? size >= 0 && size <= *capacity : block == nullptr && size == 0;
        if (!validBlock)
            return 0;
        auto bytes = std::span(static_cast<const uint8_t *>(block), size > 0 ? size : 0);
        return withList<int32_t>(list, 0, [&](ParamList &l) {
            l.addMemory(bytes);
            return 1;
        });
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddLong(intptr_t list, int32_t value) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addLong(value), 1; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddInteger(intptr_t list, intptr_t value) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addInteger(value), 1; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddFloat(intptr_t list, float value) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addFloat(value), 1; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddDouble(intptr_t list, double value) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addDouble(value), 1; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddQuad(intptr_t list, int64_t value) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addQuad(value), 1; });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_AddString(intptr_t list, const char *text) {
    return withList<int32_t>(list, 0, [&](ParamList &l) { return l.addString(textOf(text)), 1; });
}

DROVIK_API void *DROVIK_CALL Drovik_Parameter_GetMem(intptr_t list, int32_t index, int32_t *size) {
    if (size != nullptr)
        *size = 0;
    return withList<void *>(list, nullptr, [&](ParamList &l) -> void * {
        const ParamList::Value *v =
            index < 0 ? nullptr : l.at(static_cast<size_t>(index), DROVIK_TYPE_MEMORY);
        if (v == nullptr)
            return nullptr;
        if (size != nullptr)
            *size = static_cast<int32_t>(v->bytes.size());
        return v->bytes.empty() ? &gEmptyValue : const_cast<uint8_t *>(v->bytes.data());
    });
}

DROVIK_API int32_t DROVIK_CALL Drovik_Parameter_GetLong(intptr_t list, int32_t index) {
    return numberAt<int32_t>(list, index, DROVIK_TYPE_LONG);
}

DROVIK_API intptr_t DROVIK_CALL Drovik_Parameter_GetInteger(intptr_t list, int32_t index) {
    return numberAt<intptr_t>(list, index, DROVIK_TYPE_INTEGER);
}

DROVIK_API float DROVIK_CALL Drovik_Parameter_GetFloat(intptr_t list, int32_t index) {
    return numberAt<float>(list, index, DROVIK_TYPE_FLOAT);
}

DROVIK_API double DROVIK_CALL Drovik_Parameter_GetDouble(intptr_t list, int32_t index) {
    return numberAt<double>(list, index, DROVIK_TYPE_DOUBLE);
}

DROVIK_API int64_t DROVIK_CALL Drovik_Parameter_GetQuad(intptr_t list, int32_t index) {
    return numberAt<int64_t>(list, index, DROVIK_TYPE_QUAD);
}

DROVIK_API const char *DROVIK_CALL Drovik_Parameter_GetString(intptr_t list, int32_t index) {
    return withList<const char *>(list, nullptr, [&](ParamList &l) -> const char * {
        const ParamList::Value *v =
            index < 0 ? nullptr : l.at(static_cast<size_t>(index), DROVIK_TYPE_STRING);
        return v ? reinterpret_cast<const char *>(v->bytes.data()) : nullptr;
    });
}

}  // extern "C"
