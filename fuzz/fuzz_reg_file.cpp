// The .reg file reader: any bytes give a tree that keeps its own rules (names within their
// limits, subkeys in Windows' order, each found by its name in any case), and that tree exported
// as regedit would and read again is the same tree.
#include "fuzz.h"
#include "reg_file.h"

namespace regfile = qir::sys::regfile;
using Text = std::u16string;

static Text folded(Text name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char16_t u) { return u >= 'a' && u <= 'z' ? u - 32 : u; });
    return name;
}

// Answers the number of keys below `key`.
static size_t checkKey(const regfile::Key& key, size_t depth) {
    size_t keys = key.subkeyCount();
    FUZZ_CHECK(depth <= regfile::kMaxDepth);
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        const Text& name = key.subkey(i).name();
        FUZZ_CHECK(!name.empty() && name.size() <= regfile::kMaxKeyNameUnits &&
                   name.find(u'\\') == Text::npos);
        FUZZ_CHECK((i == 0 || folded(key.subkey(i - 1).name()) < folded(name)) &&
                   key.findSubkey(folded(name)) == &key.subkey(i));
        keys += checkKey(key.subkey(i), depth + 1);
    }
    for (const auto& [name, value] : key.values())
        FUZZ_CHECK(name.size() <= regfile::kMaxValueNameUnits &&
                   key.findValue(folded(name)) == &value);
    return keys;
}

// A section for each key, parents before their subkeys; every value in the hex(type) form, long
// lists broken after a '\' as regedit breaks them.
static void exportKey(const regfile::Key& key, const Text& path, Text& out) {
    const auto hex = [](uint32_t n, Text digits = u"") {
        for (; digits.empty() || n != 0; n >>= 4)
            digits.insert(digits.begin(), u"0123456789abcdef"[n & 0xF]);
        return digits;
    };
    out += u"\r\n[" + path + u"]\r\n";
    for (const auto& [name, value] : key.values()) {
        out += name.empty() ? u"@" : u"\"";
        for (char16_t unit : name)
            out += unit == u'\\' || unit == u'"' ? Text{u'\\', unit} : Text{unit};
        out += (name.empty() ? u"=hex(" : u"\"=hex(") + hex(value.type) + u"):";
        for (size_t i = 0; i < value.data.size(); ++i)
            out += (i == 0        ? u""
                    : i % 24 == 0 ? u",\\\r\n  "
                                  : u",") +
                   hex(value.data[i] | 0x100).substr(1);
        out += u"\r\n";
    }
    for (size_t i = 0; i < key.subkeyCount(); ++i)
        exportKey(key.subkey(i), path + u'\\' + key.subkey(i).name(), out);
}

void fuzz::testOne(const uint8_t* data, size_t size) {
    // UTF-16LE on this host, with its byte order mark: every unit is read back as it is, lone
    // surrogates too. A tree whose export would pass the reader's size limit is not read back.
    const auto exported = [](const regfile::Key& root,
                             Text out = u"\xFEFFWindows Registry Editor Version 5.00\r\n") {
        return exportKey(root, u"HKEY_LOCAL_MACHINE", out), out;
    };
    const std::unique_ptr<regfile::Key> root = regfile::parse(data, size);
    FUZZ_CHECK(root != nullptr && root->name().empty() && checkKey(*root, 0) <= regfile::kMaxKeys);
    const Text file = exported(*root);
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    FUZZ_CHECK(file.size() * 2 > regfile::kMaxFileBytes ||
               exported(*regfile::parse(bytes, file.size() * 2)) == file);
}
