// The .reg file reader: any bytes give a tree that keeps its own rules (names within their
// limits, subkeys in Windows' order, each found by its name in any case), and that tree exported
// as regedit would and read again is the same tree.
#include <cstdio>

#define FUZZ_ONE_LOCALE
#include "fuzz.h"
#include "reg_file.h"

namespace regfile = qir::sys::regfile;
using Text = std::u16string;

static Text folded(Text name) {
    for (char16_t& unit : name)
        unit = unit >= u'a' && unit <= u'z' ? unit - u'a' + u'A' : unit;
    return name;
}

// Checks the key's rules and appends it as regedit exports it: a section for each key, parents
// before their subkeys, every value in the hex(type) form, long lists broken after a '\' as
// regedit breaks them. Answers the number of keys below it.
static size_t walk(const regfile::Key& key, const Text& path, size_t depth, Text& out) {
    const auto hex = [](unsigned n, const char* format) {
        char digits[9];
        return Text(digits, digits + std::snprintf(digits, sizeof digits, format, n));
    };
    FUZZ_CHECK(depth <= regfile::kMaxDepth);
    out += u"\r\n[" + path + u"]\r\n";
    for (const auto& [name, value] : key.values()) {
        FUZZ_CHECK(name.size() <= regfile::kMaxValueNameUnits &&
                   key.findValue(folded(name)) == &value);
        out += name.empty() ? u"@" : u"\"";
        for (char16_t unit : name)
            out += unit == u'\\' || unit == u'"' ? Text{u'\\', unit} : Text{unit};
        out += (name.empty() ? u"=hex(" : u"\"=hex(") + hex(value.type, "%x") + u"):";
        for (size_t i = 0; i < value.data.size(); ++i)
            out += (i == 0 ? u"" : i % 24 == 0 ? u",\\\r\n  " : u",") + hex(value.data[i], "%02x");
        out += u"\r\n";
    }
    size_t keys = key.subkeyCount();
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        const Text& name = key.subkey(i).name();
        FUZZ_CHECK(!name.empty() && name.size() <= regfile::kMaxKeyNameUnits &&
                   name.find(u'\\') == Text::npos);
        FUZZ_CHECK(i == 0 || folded(key.subkey(i - 1).name()) < folded(name));
        FUZZ_CHECK(key.findSubkey(folded(name)) == &key.subkey(i));
        keys += walk(key.subkey(i), path + u'\\' + name, depth + 1, out);
    }
    return keys;
}

void fuzz::testOne(const uint8_t* data, size_t size) {
    // UTF-16LE on this host, with its byte order mark: every unit is read back as it is, lone
    // surrogates too. A tree whose export would pass the reader's size limit is not read back.
    Text file = u"\xFEFFWindows Registry Editor Version 5.00\r\n", again = file;
    FUZZ_CHECK(walk(*regfile::parse(data, size), u"HKEY_LOCAL_MACHINE", 0, file) <=
               regfile::kMaxKeys);
    const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
    if (file.size() * 2 <= regfile::kMaxFileBytes)
        walk(*regfile::parse(bytes, file.size() * 2), u"HKEY_LOCAL_MACHINE", 0, again);
    FUZZ_CHECK(file.size() * 2 > regfile::kMaxFileBytes || again == file);
}
