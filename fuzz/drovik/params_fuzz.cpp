// A parameter list from untrusted bytes: it decodes or is refused; what decodes encodes back to
// exactly the bytes it came from, and every value reads back by index and type.
#include <algorithm>
#include <cstdlib>

#include "bytes.h"
#include "drovik.h"
#include "params.h"

using namespace drovik;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ByteReader in(std::span(data, size));
    auto list = ParamList::decode(in);
    if (!list)
        return 0;
    size_t consumed = size - in.remaining();
    std::vector<uint8_t> again;
    ByteWriter out(again);
    list->encode(out);
    if (again.size() != consumed || list->encodedSize() != consumed ||
        !std::equal(again.begin(), again.end(), data))
        std::abort();
    const int32_t types[] = {DROVIK_TYPE_MEMORY, DROVIK_TYPE_LONG,   DROVIK_TYPE_INTEGER,
                             DROVIK_TYPE_FLOAT,  DROVIK_TYPE_DOUBLE, DROVIK_TYPE_QUAD,
                             DROVIK_TYPE_STRING};
    size_t found = 0;
    for (size_t i = 0; i <= list->count(); ++i)
        for (int32_t t : types)
            if (const ParamList::Value *v = list->at(i, t)) {
                ++found;
                if (t == DROVIK_TYPE_STRING && (v->bytes.empty() || v->bytes.back() != 0))
                    std::abort();
            }
    if (found != list->count() || !list->matches(list->signature()))
        std::abort();
    return 0;
}
