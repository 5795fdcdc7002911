// The .reg file reader: any bytes give a tree that keeps its own rules (names within their
// limits, subkeys in Windows' order, each found by its name), and that tree exported as regedit
// would and read again is the same tree.
#include "fuzz.h"
#include "reg_file.h"

namespace {

namespace regfile = qir::sys::regfile;
using Text = std::u16string;

Text folded(Text name) {
    for (char16_t& unit : name) {
        unit = unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
    }
    return name;
}

size_t checkKey(const regfile::Key& key, size_t depth) {
    FUZZ_CHECK(depth <= regfile::kMaxDepth);
    size_t keys = key.subkeyCount();
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        const Text& name = key.subkey(i).name();
        FUZZ_CHECK(!name.empty() && name.size() <= regfile::kMaxKeyNameUnits &&
                   name.find(u'\\') == Text::npos);
        FUZZ_CHECK(i == 0 || folded(key.subkey(i - 1).name()) < folded(name));
        FUZZ_CHECK(key.findSubkey(folded(name)) == &key.subkey(i));
        keys += checkKey(key.subkey(i), depth + 1);
    }
    for (const auto& entry : key.values()) {
        FUZZ_CHECK(entry.first.size() <= regfile::kMaxValueNameUnits);
        FUZZ_CHECK(key.findValue(folded(entry.first)) == &entry.second);
    }
    return keys;
}

Text hex(uint32_t number) {
    Text digits;
    do {
        digits.insert(digits.begin(), u"0123456789abcdef"[number & 0xF]);
    } while ((number >>= 4) != 0);
    return digits;
}

// A section for each key, parents before their subkeys, every value in the hex(type) form, long
// lists broken after a '\' as regedit breaks them.
void exportKey(const regfile::Key& key, const Text& path, Text& out) {
    out += u"\r\n[" + path + u"]\r\n";
    for (const auto& [name, value] : key.values()) {
        out += name.empty() ? u"@" : u"\"";
        for (char16_t unit : name) {
            out += unit == u'\\' || unit == u'"' ? Text{u'\\', unit} : Text{unit};
        }
        out += (name.empty() ? u"=hex(" : u"\"=hex(") + hex(value.type) + u"):";
        for (size_t i = 0; i < value.data.size(); ++i) {
            out += (i == 0        ? u""
                    : i % 24 == 0 ? u",\\\r\n  "
                                  : u",") +
                   hex(value.data[i] | 0x100).substr(1);
        }
        out += u"\r\n";
    }
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        exportKey(key.subkey(i), path + u'\\' + key.subkey(i).name(), out);
    }
}

// As UTF-16LE with its byte order mark, every unit is read back as it is, lone surrogates too.
Text exported(const regfile::Key& root) {
    Text out = u"\xFEFFWindows Registry Editor Version 5.00\r\n";
    exportKey(root, u"HKEY_LOCAL_MACHINE", out);
    return out;
}

}  // namespace

void fuzz::testOne(const uint8_t* data, size_t size) {
    const std::unique_ptr<regfile::Key> root = regfile::parse(data, size);
    FUZZ_CHECK(root != nullptr && root->name().empty() && checkKey(*root, 0) <= regfile::kMaxKeys);
    const Text file = exported(*root);
    // A tree whose export would pass the reader's size limit is not read back.
    if (file.size() * 2 <= regfile::kMaxFileBytes) {
        FUZZ_CHECK(exported(*regfile::parse(reinterpret_cast<const uint8_t*>(file.data()),
                                            file.size() * 2)) == file);
    }
}
