// The filter lists of the logging configuration from any REG_MULTI_SZ data: the joined text
// against the strings of the data split and joined here.
#define FUZZ_ONE_LOCALE
#include "fuzz.h"
#include "qir_log_config.h"

void fuzz::testOne(const uint8_t* data, size_t size) {
    // The strings, each ended by a zero unit, up to the first empty one or the end of the data;
    // a last string without its zero is no string. Joined with ",".
    Units expected, current;
    for (const qir_wchar_t unit : elements<qir_wchar_t>(data, size)) {
        if (unit == 0 && current.empty())
            break;
        expected += unit != 0 ? Units() : (expected.empty() ? Units() : Units(1, ',')) + current;
        current = unit == 0 ? Units() : current + unit;
    }
    const CQIRLogStringWChar list = qirJoinMultiString(data, static_cast<uint32_t>(size));
    const Units held(list.getBuffer(), list.getBuffer() + list.getSize());
    FUZZ_CHECK(expected.empty() ? list.getBuffer() == nullptr && held.empty()
                                : held == expected + qir_wchar_t{0});
}
