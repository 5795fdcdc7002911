// The filter lists of the logging configuration from any REG_MULTI_SZ data: the joined text
// against the strings of the data split and joined here.
#include <cstdint>

#include "fuzz_support.h"
#include "qir_log_config.h"

namespace {

// The strings of the data, each ended by a zero unit, up to the first empty one or the end
// of the data; a last string without its zero is no string. Joined with ",".
fuzz::Units joined(const uint8_t* data, size_t size) {
    fuzz::Units all;
    fuzz::Units current;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<qir_wchar_t>(data[i] | data[i + 1] << 8);
        if (unit != 0) {
            current.push_back(unit);
            continue;
        }
        if (current.empty()) {
            break;
        }
        if (!all.empty()) {
            all.push_back(',');
        }
        all += current;
        current.clear();
    }
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const CQIRLogStringWChar list = qirJoinMultiString(data, static_cast<uint32_t>(size));
    const fuzz::Units expected = joined(data, size);
    if (expected.empty()) {
        FUZZ_CHECK(list.getSize() == 0 && list.getBuffer() == nullptr);
        return 0;
    }
    FUZZ_CHECK(list.getSize() == expected.size() + 1);
    FUZZ_CHECK(list.length() == expected.size());
    FUZZ_CHECK(fuzz::Units(list.getBuffer(), list.length()) == expected);
    FUZZ_CHECK(list.getBuffer()[expected.size()] == 0);
    return 0;
}
