// The serialised form of a string class (FUZZ_CLASS: CQIRStringMultiByte or CQIRStringWChar):
// any bytes read record after record, and strings of any text written and read back.
#include "fuzz.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

using String = FUZZ_CLASS;
using Text = std::basic_string<std::remove_pointer_t<decltype(String().getBuffer())>>;
using Form = CQIRBuffer<uint8_t>;

void fuzz::testOne(const uint8_t* data, size_t size) {
    const auto all = [](const auto& b) { return held(b.getBuffer(), b.getSize()); };
    // What a string holds after taking 8-bit text: the text and one zero, nothing for no text.
    // The UTF-16 class takes only text that converts here one unit per byte.
    const auto taken = [](const std::string& text, Text units = Text()) {
        const bool one = convert(text, units) && units.size() == text.size() && !text.empty();
        return one ? units + Text(1, 0) : Text();
    };
    // The form holds the string's 8-bit text when it has one of one byte per element; otherwise
    // the text is cut or zero-filled, and reads back as whatever it kept.
    const auto writeAndReread = [&](const String& s) {
        Form in = s.serialize();
        const Bytes form = all(in);
        std::string text;
        const bool exact = convert(Text(all(s).c_str()), text) && taken(text) == all(s);
        FUZZ_CHECK(form.size() == s.serializedSize() && form.size() == s.getSize() + 5u);
        FUZZ_CHECK(all(static_cast<Form>(s)) == form && form[0] == 1 &&
                   le32(&form[1]) == s.getSize());
        FUZZ_CHECK(!exact || reinterpret_cast<const char*>(form.c_str() + 5) == text);
        String again;
        FUZZ_CHECK(again.deserialize(in) && in.getSize() == 0 && in.getBuffer() == nullptr);
        FUZZ_CHECK(!exact || (all(again) == all(s) && all(again.serialize()) == form));
    };
    // A form is taken from the front of the buffer it is read from, so an input is read record
    // after record until one is refused or nothing is left; a handful reaches every path.
    Form in(data, static_cast<uint32_t>(size));
    String s(CQIRBuffer<char>("prior", 5));
    for (size_t at = 0, record = 0; record < 8; ++record) {
        const Text before = all(s);
        const size_t left = size - at, length = left >= 5 ? le32(data + at + 1) : 0;
        const bool read = s.deserialize(in);
        // Nothing left: the string and the buffer become empty. Refused: both are as they were.
        FUZZ_CHECK(left > 0 ||
                   (read && s.getBuffer() == nullptr && s.getSize() + in.getSize() == 0));
        FUZZ_CHECK(left == 0 || read == (data[at] == 1 && left >= 5 && length + 5 <= left));
        FUZZ_CHECK(read || (all(s) == before && all(in) == held(data + at, left)));
        if (!read || left == 0)
            break;
        FUZZ_CHECK(all(s) == taken(elements<char>(data + at + 5, length).c_str()));
        at += 5 + length;
        FUZZ_CHECK(all(in) == held(data + at, size - at) &&
                   (at < size || in.getBuffer() == nullptr));
        writeAndReread(s);
    }
    // Any text: up to its first zero element, then one zero; nothing without a text.
    const Text text = elements<Text::value_type>(data, size);
    const String made(
        CQIRBuffer<Text::value_type>(text.data(), static_cast<uint32_t>(text.size())));
    FUZZ_CHECK(all(made) == (text.c_str()[0] == 0 ? Text() : Text(text.c_str()) + Text(1, 0)));
    writeAndReread(made);
}
