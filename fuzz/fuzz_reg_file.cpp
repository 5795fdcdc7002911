// The .reg file reader: any bytes give a tree that keeps its own rules (names within their
// limits, subkeys in Windows' order, each found by its name), and that tree written out as a
// .reg file and read again is the same tree.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "reg_file.h"

namespace {

namespace regfile = qir::sys::regfile;

using Text = std::u16string;

void checkKey(const regfile::Key& key, size_t depth, size_t& keys) {
    FUZZ_CHECK(depth <= regfile::kMaxDepth);
    const regfile::FoldedLess less;
    for (size_t i = 0; i < key.subkeyCount(); ++i) {
        const regfile::Key& subkey = key.subkey(i);
        ++keys;
        FUZZ_CHECK(!subkey.name().empty() && subkey.name().size() <= regfile::kMaxKeyNameUnits);
        FUZZ_CHECK(subkey.name().find(u'\\') == Text::npos);
        FUZZ_CHECK(i == 0 || less(key.subkey(i - 1).name(), subkey.name()));
        FUZZ_CHECK(key.findSubkey(subkey.name()) == &subkey);
        checkKey(subkey, depth + 1, keys);
    }
    for (const auto& entry : key.values()) {
        FUZZ_CHECK(entry.first.size() <= regfile::kMaxValueNameUnits);
        FUZZ_CHECK(key.findValue(entry.first) == &entry.second);
    }
}

bool sameKey(const regfile::Key& a, const regfile::Key& b) {
    if (a.name() != b.name() || a.subkeyCount() != b.subkeyCount() ||
        a.values().size() != b.values().size()) {
        return false;
    }
    for (auto i = a.values().begin(), j = b.values().begin(); i != a.values().end(); ++i, ++j) {
        if (i->first != j->first || i->second.type != j->second.type ||
            i->second.data != j->second.data) {
            return false;
        }
    }
    for (size_t i = 0; i < a.subkeyCount(); ++i) {
        if (!sameKey(a.subkey(i), b.subkey(i))) {
            return false;
        }
    }
    return true;
}

// Writes a tree as regedit would export it, every value in the hex(type) form: a section for
// each key, parents before their subkeys, names as they were first spelled.
class Writer {
  public:
    void key(const regfile::Key& k, const Text& path) {
        m_text += u"\r\n[" + path + u"]\r\n";
        for (const auto& entry : k.values()) {
            value(entry.first, entry.second);
        }
        for (size_t i = 0; i < k.subkeyCount(); ++i) {
            key(k.subkey(i), path + u'\\' + k.subkey(i).name());
        }
    }

    // UTF-16LE with its byte order mark: every unit written is read back as it is, unpaired
    // surrogates included.
    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out{0xFF, 0xFE};
        const Text text = u"Windows Registry Editor Version 5.00\r\n" + m_text;
        for (char16_t unit : text) {
            out.push_back(static_cast<uint8_t>(unit));
            out.push_back(static_cast<uint8_t>(unit >> 8));
        }
        return out;
    }

  private:
    void value(const Text& name, const regfile::Value& v) {
        Text line;
        if (name.empty()) {
            line = u"@";
        } else {
            line = u"\"";
            for (char16_t unit : name) {
                if (unit == u'\\' || unit == u'"') {
                    line += u'\\';
                }
                line += unit;
            }
            line += u"\"";
        }
        line += u"=hex(" + hex(v.type, false) + u"):";
        // Long lists continue on the next line, after a '\', as regedit breaks them.
        for (size_t i = 0; i < v.data.size(); ++i) {
            line += hex(v.data[i], true);
            if (i + 1 < v.data.size()) {
                line += u',';
                if (i % 24 == 23) {
                    line += u"\\\r\n  ";
                }
            }
        }
        m_text += line + u"\r\n";
    }

    static Text hex(uint32_t number, bool twoDigits) {
        static const char16_t kDigits[] = u"0123456789abcdef";
        Text digits;
        do {
            digits.insert(digits.begin(), kDigits[number & 0xF]);
            number >>= 4;
        } while (number != 0);
        if (twoDigits && digits.size() < 2) {
            digits.insert(digits.begin(), u'0');
        }
        return digits;
    }

    Text m_text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<regfile::Key> root = regfile::parse(data, size);
    FUZZ_CHECK(root != nullptr && root->name().empty());
    size_t keys = 0;
    checkKey(*root, 0, keys);
    FUZZ_CHECK(keys <= regfile::kMaxKeys);

    Writer writer;
    writer.key(*root, u"HKEY_LOCAL_MACHINE");
    const std::vector<uint8_t> file = writer.bytes();
    // A tree whose export would pass the reader's size limit is not read back.
    if (file.size() > regfile::kMaxFileBytes) {
        return 0;
    }
    const std::unique_ptr<regfile::Key> again = regfile::parse(file.data(), file.size());
    FUZZ_CHECK(sameKey(*root, *again));
    return 0;
}
