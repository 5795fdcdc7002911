// The serialised form of a string class (FUZZ_CLASS: CQIRStringMultiByte or CQIRStringWChar):
// any bytes read record after record, and strings of any text written and read back.
#include <type_traits>

#include "fuzz.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

namespace {

using String = FUZZ_CLASS;
using Char = std::remove_pointer_t<decltype(String().getBuffer())>;
using Text = std::basic_string<Char>;

Text elementsOf(const String& s) {
    return s.getSize() == 0 ? Text() : Text(s.getBuffer(), s.getSize());
}

fuzz::Bytes bytesOf(const CQIRBuffer<unsigned char>& b) {
    return b.getSize() == 0 ? fuzz::Bytes()
                            : fuzz::Bytes(b.getBuffer(), b.getBuffer() + b.getSize());
}

// What a string holds after taking 8-bit text: the text and one zero, nothing for no text. The
// UTF-16 class takes only text that converts here one unit per byte.
Text taken(const std::string& text) {
    Text units;
    if (!fuzz::convert(text, units) || units.size() != text.size()) {
        units.clear();
    }
    return units.empty() ? Text() : units + Char(0);
}

// The 8-bit text of the string's form. False when it has no 8-bit form of one byte per element:
// the form then holds it cut or zero-filled, and reads back as whatever text it kept.
bool textOf(const String& s, std::string& text) {
    const Text units(s.getSize() == 0 ? Text() : Text(s.getBuffer(), s.length()));
    return fuzz::convert(units, text) && taken(text) == elementsOf(s);
}

void writeAndReread(const String& s) {
    const CQIRBuffer<unsigned char> form = s.serialize();
    const fuzz::Bytes bytes = bytesOf(form);
    FUZZ_CHECK(bytes.size() == s.serializedSize() && bytes.size() == s.getSize() + 5u);
    FUZZ_CHECK(bytesOf(static_cast<CQIRBuffer<unsigned char>>(s)) == bytes);
    FUZZ_CHECK(bytes[0] == 1 && fuzz::le32(&bytes[1]) == s.getSize());
    std::string text;
    const bool exact = textOf(s, text);
    FUZZ_CHECK(!exact || std::string(bytes.begin() + 5, bytes.end()).c_str() == text);
    CQIRBuffer<unsigned char> in = form;
    String again;
    FUZZ_CHECK(again.deserialize(in) && in.getSize() == 0 && in.getBuffer() == nullptr);
    FUZZ_CHECK(!exact ||
               (elementsOf(again) == elementsOf(s) && bytesOf(again.serialize()) == bytes));
}

}  // namespace

void fuzz::testOne(const uint8_t* data, size_t size) {
    // A form is taken from the front of the buffer it is read from, so an input is read record
    // after record until one is refused or nothing is left; a handful reaches every path.
    CQIRBuffer<unsigned char> in(data, static_cast<uint32_t>(size));
    String s(CQIRBuffer<char>("prior", 5));
    for (size_t at = 0, record = 0; record < 8; ++record) {
        const Text before = elementsOf(s);
        const uint8_t* front = data + at;
        const size_t left = size - at;
        const bool read = s.deserialize(in);
        if (left == 0) {  // both become empty
            FUZZ_CHECK(read && s.getBuffer() == nullptr && s.getSize() == 0 && in.getSize() == 0);
            break;
        }
        const uint32_t length = left >= 5 ? le32(front + 1) : 0;
        FUZZ_CHECK(read == (front[0] == 1 && left >= 5 && length + uint64_t{5} <= left));
        if (!read) {  // both as they were
            FUZZ_CHECK(elementsOf(s) == before && bytesOf(in) == Bytes(front, data + size));
            break;
        }
        FUZZ_CHECK(elementsOf(s) == taken(elements<char>(front + 5, length).c_str()));
        at += 5 + size_t{length};
        FUZZ_CHECK(bytesOf(in) == Bytes(data + at, data + size));
        FUZZ_CHECK(at < size || in.getBuffer() == nullptr);
        writeAndReread(s);
    }
    // Any text: up to its first zero element, then one zero; nothing without a text.
    const Text text = elements<Char>(data, size);
    const String made(CQIRBuffer<Char>(text.data(), static_cast<uint32_t>(text.size())));
    const Text upTo = text.c_str();
    FUZZ_CHECK(elementsOf(made) == (upTo.empty() ? Text() : upTo + Char(0)));
    writeAndReread(made);
}
