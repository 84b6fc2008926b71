// libFuzzer target: the reader with every tag handler, and the records
// built from what it hands over (reductions, texts, durations).
#include <cstddef>
#include <cstdint>

#include "base/memory_budget.h"
#include "document/swf_document.h"

using namespace kestrel;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MemoryBudget::setLimit(std::int64_t{512} << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SWFDocument doc;
    SWFReader reader(&doc);
    reader.readMemory({data, size}, nullptr);
    for (int key : {1, -2, 3, -4}) doc.sort(key);
    std::size_t text = 0;
    for (int i = 0; i < doc.count(); ++i) text += doc.resource(i).description.size();
    return text > 0 ? 0 : 0;
}
