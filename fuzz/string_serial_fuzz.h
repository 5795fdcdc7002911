// The serialised form of the string classes (CQIRStringMultiByte, CQIRStringWChar), read from
// any bytes and written back. A form is read from the front of a byte buffer and removed from
// it, so an input is read record after record until one is refused or nothing is left.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "fuzz_support.h"
#include "qir_buffer.h"
#include "qir_string_multibyte.h"
#include "qir_string_wchar.h"

namespace fuzz {

template <class String>
using CharOf = std::remove_pointer_t<decltype(std::declval<String&>().getBuffer())>;

template <class String>
using TextOf = std::basic_string<CharOf<String>>;

// The elements a string holds.
template <class String>
TextOf<String> elementsOf(const String& s) {
    return s.getSize() == 0 ? TextOf<String>() : TextOf<String>(s.getBuffer(), s.getSize());
}

inline std::vector<uint8_t> bytesOf(const CQIRBuffer<unsigned char>& b) {
    return b.getSize() == 0 ? std::vector<uint8_t>()
                            : std::vector<uint8_t>(b.getBuffer(), b.getBuffer() + b.getSize());
}

// The elements a string read from an 8-bit payload holds, by the text rules: the text up to
// its first zero and one zero; nothing for an empty text. The UTF-16 class takes the text only
// when the current locale converts it one unit per byte, and is empty otherwise.
inline std::string expectedFromPayload(const CQIRStringMultiByte*, const std::string& text) {
    return text.empty() ? std::string() : text + '\0';
}
inline Units expectedFromPayload(const CQIRStringWChar*, const std::string& text) {
    Units units;
    if (text.empty() || !toUnits(text, units) || units.size() != text.size()) {
        return Units();
    }
    return units + qir_wchar_t{0};
}

// The 8-bit payload of a string's form: its own elements, or its UTF-16 text converted in the
// current locale. False when that text has no 8-bit form of exactly one byte per unit: the
// payload, as many bytes as the string has elements, then holds the text cut or zero-filled.
inline bool payloadOf(const CQIRStringMultiByte& s, std::string& payload) {
    payload = elementsOf(s);
    return true;
}
inline bool payloadOf(const CQIRStringWChar& s, std::string& payload) {
    payload.clear();
    if (s.getSize() == 0) {
        return true;
    }
    const Units units(s.getBuffer(), s.length());
    if (!toNarrow(units, payload) || payload.size() != units.size() ||
        s.getSize() != units.size() + 1) {
        return false;
    }
    payload += '\0';
    return true;
}

// Serialises `s`, checks the form, reads it back into a fresh string that must equal `s`
// when its text has an 8-bit form one byte per element, and writes that string again.
template <class String>
void writeAndReread(const String& s) {
    const CQIRBuffer<unsigned char> form = s.serialize();
    FUZZ_CHECK(form.getSize() == s.serializedSize());
    FUZZ_CHECK(form.getSize() == s.getSize() + 5);
    const CQIRBuffer<unsigned char> checked = s;  // the form through the serialisable interface
    FUZZ_CHECK(bytesOf(checked) == bytesOf(form));

    const std::vector<uint8_t> bytes = bytesOf(form);
    FUZZ_CHECK(bytes[0] == 1);
    FUZZ_CHECK(le32(&bytes[1]) == s.getSize());
    std::string payload;
    const bool exact = payloadOf(s, payload);
    if (exact) {
        FUZZ_CHECK(std::string(bytes.begin() + 5, bytes.end()) == payload);
    }

    CQIRBuffer<unsigned char> in = form;
    String again;
    FUZZ_CHECK(again.deserialize(in));
    FUZZ_CHECK(in.getSize() == 0 && in.getBuffer() == nullptr);
    if (!exact) {
        return;  // a cut or zero-filled payload reads back as whatever text it kept
    }
    FUZZ_CHECK(elementsOf(again) == elementsOf(s));
    FUZZ_CHECK(bytesOf(again.serialize()) == bytes);
}

template <class String>
void readAnyBytes(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> input(data, data + size);
    CQIRBuffer<unsigned char> in(data, static_cast<uint32_t>(size));
    FUZZ_CHECK(in.getSize() == size);
    size_t at = 0;  // where the bytes left in `in` start within the input
    String s(CQIRBuffer<char>("prior", 5));
    // A handful of records is enough to reach every path; a longer input would only repeat.
    for (int record = 0; record < 8; ++record) {
        const TextOf<String> before = elementsOf(s);
        const size_t left = size - at;
        const uint8_t* front = data + at;
        const bool read = s.deserialize(in);
        if (left == 0) {
            // Nothing left: the string becomes empty, and so does `in`.
            FUZZ_CHECK(read && s.getSize() == 0 && s.getBuffer() == nullptr && in.getSize() == 0);
            return;
        }
        const bool framed =
            front[0] == 1 && left >= 5 && uint64_t{le32(front + 1)} + 5 <= uint64_t{left};
        FUZZ_CHECK(read == framed);
        if (!read) {
            // Refused: the string and the bytes left are as they were.
            FUZZ_CHECK(elementsOf(s) == before);
            FUZZ_CHECK(bytesOf(in) == std::vector<uint8_t>(input.begin() + at, input.end()));
            return;
        }
        const uint32_t length = le32(front + 1);
        const std::string payload(reinterpret_cast<const char*>(front + 5),
                                  strnlen(reinterpret_cast<const char*>(front + 5), length));
        FUZZ_CHECK(elementsOf(s) == expectedFromPayload(&s, payload));
        // A record in the form the classes write (the empty string's five bytes, or a text that
        // was taken, with exactly one terminator) is written back byte for byte.
        const bool canonical = length == 0 || (payload.size() + 1 == length && s.getSize() != 0);
        if (canonical) {
            FUZZ_CHECK(bytesOf(s.serialize()) ==
                       std::vector<uint8_t>(front, front + 5 + size_t{length}));
        }
        at += 5 + size_t{length};
        // The record is gone from the front of `in`, and nothing else.
        FUZZ_CHECK(bytesOf(in) == std::vector<uint8_t>(input.begin() + at, input.end()));
        FUZZ_CHECK(at < size || in.getBuffer() == nullptr);
        writeAndReread(s);
    }
}

}  // namespace fuzz
