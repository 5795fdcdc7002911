// The serialised form of a string class (FUZZ_CLASS: CQIRStringMultiByte or CQIRStringWChar):
// any bytes read record after record, and strings of any text written and read back.
#include <type_traits>

#include "fuzz.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

using String = FUZZ_CLASS;
using Char = std::remove_pointer_t<decltype(String().getBuffer())>;
using Text = std::basic_string<Char>;

void fuzz::testOne(const uint8_t* data, size_t size) {
    const auto elementsOf = [](const String& s) {
        return Text(s.getBuffer(), s.getBuffer() + s.getSize());
    };
    const auto bytesOf = [](const CQIRBuffer<uint8_t>& b) {
        return Bytes(b.getBuffer(), b.getBuffer() + b.getSize());
    };
    // What a string holds after taking 8-bit text: the text and one zero, nothing for no text.
    // The UTF-16 class takes only text that converts here one unit per byte.
    const auto taken = [](const std::string& text, Text units = Text()) {
        return convert(text, units) && units.size() == text.size() && !text.empty()
                   ? units + Char(0)
                   : Text();
    };
    // The form holds the string's 8-bit text when it has one of one byte per element; otherwise
    // the text is cut or zero-filled, and reads back as whatever it kept.
    const auto writeAndReread = [&](const String& s) {
        const CQIRBuffer<uint8_t> form = s.serialize();
        const Bytes bytes = bytesOf(form);
        std::string text;
        const bool exact =
            convert(Text(elementsOf(s).c_str()), text) && taken(text) == elementsOf(s);
        FUZZ_CHECK(bytes.size() == s.serializedSize() && bytes.size() == s.getSize() + 5u);
        FUZZ_CHECK(bytesOf(static_cast<CQIRBuffer<uint8_t>>(s)) == bytes && bytes[0] == 1 &&
                   le32(&bytes[1]) == s.getSize());
        FUZZ_CHECK(!exact || std::string(bytes.begin() + 5, bytes.end()).c_str() == text);
        CQIRBuffer<uint8_t> in = form;
        String again;
        FUZZ_CHECK(again.deserialize(in) && in.getSize() == 0 && in.getBuffer() == nullptr);
        FUZZ_CHECK(!exact ||
                   (elementsOf(again) == elementsOf(s) && bytesOf(again.serialize()) == bytes));
    };
    // A form is taken from the front of the buffer it is read from, so an input is read record
    // after record until one is refused or nothing is left; a handful reaches every path.
    CQIRBuffer<uint8_t> in(data, static_cast<uint32_t>(size));
    String s(CQIRBuffer<char>("prior", 5));
    for (size_t at = 0, record = 0; record < 8; ++record) {
        const Text before = elementsOf(s);
        const size_t length = size - at >= 5 ? le32(data + at + 1) : 0;
        const bool read = s.deserialize(in);
        // Nothing left: the string and the buffer become empty. Refused: both are as they were.
        FUZZ_CHECK(at < size ||
                   (read && s.getBuffer() == nullptr && s.getSize() == 0 && in.getSize() == 0));
        FUZZ_CHECK(at == size ||
                   read == (data[at] == 1 && size - at >= 5 && length + 5 <= size - at));
        FUZZ_CHECK(read ||
                   (elementsOf(s) == before && bytesOf(in) == Bytes(data + at, data + size)));
        if (!read || at == size)
            break;
        FUZZ_CHECK(elementsOf(s) == taken(elements<char>(data + at + 5, length).c_str()));
        at += 5 + length;
        FUZZ_CHECK(bytesOf(in) == Bytes(data + at, data + size) &&
                   (at < size || in.getBuffer() == nullptr));
        writeAndReread(s);
    }
    // Any text: up to its first zero element, then one zero; nothing without a text.
    const Text text = elements<Char>(data, size);
    const String made(CQIRBuffer<Char>(text.data(), static_cast<uint32_t>(text.size())));
    FUZZ_CHECK(elementsOf(made) == (text.c_str()[0] == 0 ? Text() : Text(text.c_str()) + Char(0)));
    writeAndReread(made);
}
