// A log string's raw form (FUZZ_CLASS: CQIRLogStringMultiByte or CQIRLogStringWChar): any bytes
// read, and what was read and strings of any text written and read back. The UTF-16 class keeps
// no form of its own: it reads and writes the 8-bit one, converted in the current locale.
#include <type_traits>

#include "fuzz.h"
#include "qir_log_string.h"

namespace {

using LogString = FUZZ_CLASS;
using Char = std::remove_const_t<std::remove_pointer_t<decltype(LogString().getBuffer())>>;
using Text = std::basic_string<Char>;

Text textOf(const LogString& s) {
    return s.getSize() == 0 ? Text() : Text(s.getBuffer(), s.length());
}

// What a log string holds after reading 8-bit text: the text converted here (nothing when it does
// not convert), and no storage for no text. The UTF-16 class has one element for each byte and
// the terminator; the 8-bit class keeps the L bytes of an 8-bit form (`kept`) as they lay, those
// after the text too.
void expectRead(const LogString& s, const std::string& text, const fuzz::Bytes& kept) {
    Text units;
    const bool converts = fuzz::convert(text, units) && !units.empty();
    FUZZ_CHECK(textOf(s) == (converts ? units : Text()));
    FUZZ_CHECK(converts || !kept.empty() || (s.getSize() == 0 && s.getBuffer() == nullptr));
    if (sizeof(Char) == 1 && !kept.empty()) {
        FUZZ_CHECK(fuzz::Bytes(s.getBuffer(), s.getBuffer() + s.getSize()) == kept);
    }
    FUZZ_CHECK(sizeof(Char) == 1 || !converts || s.getSize() == text.size() + 1);
}

// A text without an 8-bit form here is written as the empty string. The string read back has the
// same text (in one element for every byte of its 8-bit form) and writes the same bytes.
fuzz::Bytes writeAndReread(const LogString& s) {
    std::string text;
    const bool narrows = fuzz::convert(textOf(s), text);
    text = narrows ? text : std::string();
    const auto length = static_cast<uint32_t>(text.size() + 1);
    fuzz::Bytes raw{1, uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                    uint8_t(length >> 24)};
    raw.insert(raw.end(), text.c_str(), text.c_str() + length);
    const fuzz::Bytes form = fuzz::written(s);
    FUZZ_CHECK(form == raw);
    const LogString again = fuzz::readBack(form, LogString());
    expectRead(again, text, text.empty() ? fuzz::Bytes() : fuzz::Bytes(raw.begin() + 5, raw.end()));
    FUZZ_CHECK(!narrows || textOf(again) == textOf(s));
    FUZZ_CHECK(fuzz::written(again) == form);
    return form;
}

}  // namespace

void fuzz::testOne(const uint8_t* data, size_t size) {
    std::string text;
    bool canonical = false;
    const size_t expected = frameRaw(data, size, text, canonical);
    const LogString prior("prior text");
    LogString s(prior);
    uint32_t consumed = 0xDEADBEEF;
    const bool read = s.deserialize(data, static_cast<uint32_t>(size), consumed);
    FUZZ_CHECK(read == (expected != 0) && consumed == (read ? expected : 0xDEADBEEF));
    if (!read) {
        FUZZ_CHECK(textOf(s) == textOf(prior) && s.getSize() == prior.getSize());
    } else {
        expectRead(s, text,
                   data[0] == 1 && expected > 6 ? Bytes(data + 5, data + expected) : Bytes());
        // Bytes in the form a log string writes come back as they were, when their text
        // converts to the class's text and back here.
        const Bytes form = writeAndReread(s);
        Text units;
        FUZZ_CHECK(!canonical || !convert(text, units) || form == Bytes(data, data + expected));
    }
    // Any text: the input's elements up to the first zero.
    const Text any = elements<Char>(data, size).c_str();
    const LogString made(any.c_str());
    FUZZ_CHECK(textOf(made) == any && made.getSize() == (any.empty() ? 0 : any.size() + 1));
    writeAndReread(made);
}
