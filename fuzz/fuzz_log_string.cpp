// A log string's raw form (FUZZ_CLASS: CQIRLogStringMultiByte or CQIRLogStringWChar): any bytes
// read, and what was read and strings of any text written and read back. The UTF-16 class keeps
// no form of its own: it reads and writes the 8-bit one, converted in the current locale.
#include "fuzz.h"
#include "qir_log_string.h"

using LogString = FUZZ_CLASS;
using Text = std::basic_string<
    std::remove_const_t<std::remove_pointer_t<decltype(LogString().getBuffer())>>>;
constexpr bool kNarrow = sizeof(Text::value_type) == 1;

void fuzz::testOne(const uint8_t* data, size_t size) {
    const auto textOf = [](const LogString& s) {
        return Text(held(s.getBuffer(), s.getSize()).c_str());
    };
    // What a log string holds after reading 8-bit text: the text converted here (nothing when it
    // does not convert), no storage for no text. The UTF-16 class has one element for each byte
    // and the terminator; the 8-bit class keeps the L bytes of an 8-bit form as they lay (`kept`),
    // those after the text too.
    const auto expectRead = [&](const LogString& s, const std::string& text, const Bytes& kept) {
        Text units;
        const bool converts = convert(text, units) && !units.empty();
        FUZZ_CHECK(textOf(s) == (converts ? units : Text()) &&
                   (kNarrow || !converts || s.getSize() == text.size() + 1));
        FUZZ_CHECK(converts || !kept.empty() || (s.getSize() == 0 && s.getBuffer() == nullptr));
        FUZZ_CHECK(!kNarrow || kept.empty() ||
                   Bytes(s.getBuffer(), s.getBuffer() + s.getSize()) == kept);
    };
    // A text without an 8-bit form here is written as the empty string. The string read back has
    // the same text and writes the same bytes.
    const auto writeAndReread = [&](const LogString& s, std::string text = "") {
        const bool narrows = convert(textOf(s), text);
        text = narrows ? text : std::string();
        LogString again;
        const Bytes form = roundTrip(s, again), kept(form.begin() + 5, form.end());
        FUZZ_CHECK(form[0] == 1 && le32(&form[1]) == text.size() + 1 &&
                   kept == Bytes(text.begin(), text.end()) + Bytes(1, 0));
        FUZZ_CHECK(!narrows || textOf(again) == textOf(s));
        expectRead(again, text, text.empty() ? Bytes() : kept);
        return form;
    };
    const LogString prior("prior text");
    LogString s(prior);
    uint32_t consumed = 0xDEADBEEF;
    const bool read = s.deserialize(data, static_cast<uint32_t>(size), consumed);
    // Refused: nothing consumed, the string as it was. Taken: no more bytes than given, and one
    // fewer refused.
    FUZZ_CHECK(read || (consumed == 0xDEADBEEF && textOf(s) == textOf(prior) &&
                        s.getSize() == prior.getSize()));
    if (read) {
        uint32_t fewer = 0;
        FUZZ_CHECK(consumed <= size);
        FUZZ_CHECK(consumed == 0 || !LogString().deserialize(data, consumed - 1, fewer));
        // Bytes in the form a log string writes (format 1, the length, 8-bit text ended by its
        // only zero) come back as they were, when their text converts to the class's text here.
        const Bytes form = held(data, consumed);
        const std::string text(form.begin() + std::min<size_t>(5, consumed), form.end());
        const bool canonical = consumed > 6 && form[0] == 1 && le32(&form[1]) == consumed - 5 &&
                               text.find('\0') == text.size() - 1;
        Text units;
        FUZZ_CHECK(writeAndReread(s) == form || !canonical || !convert(text, units));
    }
    // Any text: the input's elements up to the first zero.
    const Text any = elements<Text::value_type>(data, size).c_str();
    const LogString made(any.c_str());
    FUZZ_CHECK(textOf(made) == any && made.getSize() == (any.empty() ? 0 : any.size() + 1));
    writeAndReread(made);
}
