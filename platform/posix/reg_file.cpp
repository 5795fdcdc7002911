#include "reg_file.h"

#include <optional>
#include <utility>

#include "qir_sys/unicode.h"

namespace qir::sys::regfile {

namespace {

using Text = std::u16string;
using View = std::u16string_view;

char16_t folded(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - (u'a' - u'A')) : unit;
}

bool sameFolded(View left, View right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t i = 0; i < left.size(); ++i) {
        if (folded(left[i]) != folded(right[i])) {
            return false;
        }
    }
    return true;
}

bool startsFolded(View text, View prefix) {
    return text.size() >= prefix.size() && sameFolded(text.substr(0, prefix.size()), prefix);
}

bool isBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

View trimLeft(View text) {
    size_t start = 0;
    while (start < text.size() && isBlank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

View trimRight(View text) {
    size_t end = text.size();
    while (end > 0 && isBlank(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

int hexDigit(char16_t unit) {
    if (unit >= u'0' && unit <= u'9') {
        return unit - u'0';
    }
    const char16_t upper = folded(unit);
    return upper >= u'A' && upper <= u'F' ? upper - u'A' + 10 : -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<uint32_t> hexNumber(View digits) {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    uint32_t number = 0;
    for (char16_t unit : digits) {
        const int digit = hexDigit(unit);
        if (digit < 0) {
            return std::nullopt;
        }
        number = (number << 4) | static_cast<uint32_t>(digit);
    }
    return number;
}

// UTF-8 to UTF-16; every byte that does not start a well-formed sequence reads as U+FFFD.
Text fromUtf8(const uint8_t* bytes, size_t size) {
    Text out;
    utf8ToUtf16(reinterpret_cast<const char*>(bytes), size, out);
    return out;
}

Text decode(const uint8_t* bytes, size_t size) {
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        Text out;
        out.reserve((size - 2) / 2);
        for (size_t i = 2; i + 1 < size; i += 2) {
            out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        return out;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return fromUtf8(bytes + 3, size - 3);
    }
    return fromUtf8(bytes, size);
}

void appendLittleEndian(std::vector<uint8_t>& out, uint64_t number, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(number >> (8 * i)));
    }
}

std::vector<uint8_t> utf16Bytes(View text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        appendLittleEndian(out, unit, 2);
    }
    return out;
}

// The lines of the decoded text, one at a time, without their CR LF or LF.
class Lines {
  public:
    explicit Lines(View text) : m_text(text) {}

    bool next(View& line) {
        if (m_ended) {
            return false;
        }
        ++m_number;
        const size_t end = m_text.find(u'\n', m_position);
        const size_t stop = end == View::npos ? m_text.size() : end;
        line = m_text.substr(m_position, stop - m_position);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        m_position = end == View::npos ? m_text.size() : end + 1;
        m_ended = m_position == m_text.size();  // a final line feed starts no line
        return true;
    }

    size_t position() const { return m_position; }
    bool ended() const { return m_ended; }
    // The number of the line that next() gave last; the first is 1.
    size_t number() const { return m_number; }
    // Back to the start of the line that next() gave last.
    void rewind(size_t position, bool ended) {
        m_position = position;
        m_ended = ended;
        --m_number;
    }

  private:
    View m_text;
    size_t m_position = 0;
    bool m_ended = false;
    size_t m_number = 0;
};

// A quoted name or text from `text` at `position` (on its opening quote), with the escapes
// \\ and \"; `position` moves past the closing quote. Nothing for anything else.
std::optional<Text> quoted(View text, size_t& position) {
    if (position >= text.size() || text[position] != u'"') {
        return std::nullopt;
    }
    Text out;
    for (size_t i = position + 1; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit == u'"') {
            position = i + 1;
            return out;
        }
        if (unit == u'\\') {
            if (i + 1 >= text.size() || (text[i + 1] != u'\\' && text[i + 1] != u'"')) {
                return std::nullopt;
            }
            unit = text[++i];
        }
        out.push_back(unit);
    }
    return std::nullopt;
}

// Comma-separated bytes of two hex digits each; a comma may end the list.
std::optional<std::vector<uint8_t>> hexBytes(View list) {
    std::vector<uint8_t> out;
    list = trimLeft(list);
    size_t i = 0;
    while (i < list.size()) {
        if (list.size() - i < 2) {
            return std::nullopt;
        }
        const int high = hexDigit(list[i]);
        const int low = hexDigit(list[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<uint8_t>(high << 4 | low));
        i += 2;
        while (i < list.size() && isBlank(list[i])) {
            ++i;
        }
        if (i == list.size()) {
            break;
        }
        if (list[i] != u',') {
            return std::nullopt;
        }
        ++i;
        while (i < list.size() && isBlank(list[i])) {
            ++i;
        }
    }
    return out;
}

bool isHexData(View data) {
    return startsFolded(data, u"hex:") || startsFolded(data, u"hex(");
}

}  // namespace

bool FoldedLess::operator()(std::u16string_view left, std::u16string_view right) const {
    const size_t common = left.size() < right.size() ? left.size() : right.size();
    for (size_t i = 0; i < common; ++i) {
        const char16_t a = folded(left[i]);
        const char16_t b = folded(right[i]);
        if (a != b) {
            return a < b;
        }
    }
    return left.size() < right.size();
}

const Key* Key::findSubkey(std::u16string_view name) const {
    const auto found = m_subkeys.find(name);
    return found == m_subkeys.end() ? nullptr : found->second.get();
}

const Value* Key::findValue(std::u16string_view name) const {
    const auto found = m_values.find(name);
    return found == m_values.end() ? nullptr : &found->second;
}

// Builds the tree line by line.
class Reader {
  public:
    Reader(Key& root, SkipReport* skipped) : m_root(root), m_skipped(skipped) {}

    void read(View text) {
        Lines lines(text);
        View line;
        if (!lines.next(line)) {
            return;
        }
        const View header = trimRight(line);
        if (header == u"Windows Registry Editor Version 5.00") {
            m_unicode = true;
        } else if (header == u"REGEDIT4") {
            m_unicode = false;
        } else {
            skip(1,
                 "no header \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\": the whole "
                 "file is skipped");
            return;
        }
        while (lines.next(line)) {
            m_line = lines.number();
            line = trimLeft(line);
            if (line.empty() || line[0] == u';') {
                continue;
            }
            const bool hasNul = line.find(u'\0') != View::npos;
            if (line[0] == u'[') {
                m_orphans = nullptr;
                m_current = hasNul ? skipSection("a NUL character") : section(line);
            } else if (line[0] == u'"' || line[0] == u'@') {
                value(line, hasNul, lines);
            } else {
                skip(m_line, "neither a section, a value nor a comment");
            }
        }
        finish(m_root);
    }

  private:
    // A null reason: a skip that an earlier report covers.
    void skip(size_t line, const char* reason) {
        if (m_skipped == nullptr || reason == nullptr) {
            return;
        }
        if (m_skipped->lines.size() < kMaxSkipsListed) {
            m_skipped->lines.push_back({line, reason});
        } else {
            ++m_skipped->more;
        }
    }

    // A section line that opens no key; the values below it go unreported.
    Key* skipSection(const char* reason) {
        skip(m_line, (std::string(reason) + ": skipped with the values below it").c_str());
        return nullptr;
    }

    // The key a section line opens, or null.
    Key* section(View line) {
        const size_t close = line.rfind(u']');
        if (close == View::npos || !trimLeft(line.substr(close + 1)).empty()) {
            return skipSection("a section without its closing ']', or with text after it");
        }
        View body = line.substr(1, close - 1);
        const bool remove = !body.empty() && body[0] == u'-';
        if (remove) {
            body.remove_prefix(1);
        }
        const size_t slash = body.find(u'\\');
        if (!sameFolded(body.substr(0, slash), u"HKEY_LOCAL_MACHINE")) {
            return skipSection("a section of another hive than HKEY_LOCAL_MACHINE");
        }
        std::vector<View> names;
        if (slash != View::npos) {
            View rest = body.substr(slash + 1);
            while (!rest.empty()) {
                const size_t next = rest.find(u'\\');
                const View name = rest.substr(0, next);
                rest = next == View::npos ? View() : rest.substr(next + 1);
                if (name.empty()) {
                    continue;
                }
                if (name.size() > kMaxKeyNameUnits || names.size() == kMaxDepth) {
                    return skipSection("a key name over 255 characters, or keys deeper than 512");
                }
                names.push_back(name);
            }
        }
        return remove ? removeKey(names) : createKey(names);
    }

    Key* createKey(const std::vector<View>& names) {
        Key* key = &m_root;
        for (const View name : names) {
            auto found = key->m_subkeys.find(name);
            if (found == key->m_subkeys.end()) {
                if (m_keys == kMaxKeys) {
                    return skipSection("a key past the limit of 65536 keys");
                }
                ++m_keys;
                found = key->m_subkeys.emplace(Text(name), std::make_unique<Key>(name)).first;
            }
            key = found->second.get();
        }
        return key;
    }

    // Deleting the hive itself is no deletion, as on Windows; either way no key is left open.
    Key* removeKey(const std::vector<View>& names) {
        m_orphans = "a value below a section that deletes a key";
        Key* parent = &m_root;
        for (size_t i = 0; parent != nullptr && i + 1 < names.size(); ++i) {
            const auto found = parent->m_subkeys.find(names[i]);
            parent = found == parent->m_subkeys.end() ? nullptr : found->second.get();
        }
        if (parent != nullptr && !names.empty()) {
            const auto found = parent->m_subkeys.find(names.back());
            if (found != parent->m_subkeys.end()) {
                parent->m_subkeys.erase(found);
            }
        }
        return nullptr;
    }

    void value(View line, bool hasNul, Lines& lines) {
        const char* malformed = hasNul ? "a NUL character" : nullptr;
        Text name;
        size_t position = 1;
        if (line[0] == u'"') {
            position = 0;
            auto text = quoted(line, position);
            if (malformed == nullptr && (!text || text->size() > kMaxValueNameUnits)) {
                malformed = "a value name that is not a quoted name of at most 16383 characters";
            }
            if (text) {
                name = std::move(*text);
            }
        }
        View data = trimLeft(line.substr(position < line.size() ? position : line.size()));
        if (malformed == nullptr && (data.empty() || data[0] != u'=')) {
            malformed = "no '=' after the value name";
        }
        data = trimRight(trimLeft(data.substr(data.empty() ? 0 : 1)));

        Text joined;
        if (isHexData(data) && !data.empty() && data.back() == u'\\') {
            if (!continued(data, lines, joined) && malformed == nullptr) {
                malformed =
                    "a hex list continued with '\\' that a section, a NUL character or "
                    "the end of the file cuts off";
            }
            data = joined;
        }
        if (malformed != nullptr || m_current == nullptr) {
            skip(m_line, malformed != nullptr ? malformed : m_orphans);
            return;
        }
        if (data == u"-") {
            m_current->m_values.erase(name);
            return;
        }
        std::optional<Value> parsed = valueData(data);
        if (!parsed) {
            skip(m_line,
                 "data that is none of \"text\", dword: with 1 to 8 hex digits, hex: and "
                 "hex(N): with two hex digits a byte");
            return;
        }
        const auto found = m_current->m_values.find(name);
        if (found != m_current->m_values.end()) {
            found->second = std::move(*parsed);
        } else if (m_values < kMaxValues) {
            ++m_values;
            m_current->m_values.emplace(std::move(name), std::move(*parsed));
        } else {
            skip(m_line, "a value past the limit of 65536 values");
        }
    }

    // Joins a hex list that ends in '\' with the lines that continue it. False when the file or
    // a section line cuts it off (that line is left for the caller) or a line holds a NUL.
    static bool continued(View first, Lines& lines, Text& joined) {
        joined.assign(first.substr(0, first.size() - 1));
        for (;;) {
            const size_t position = lines.position();
            const bool ended = lines.ended();
            View line;
            if (!lines.next(line)) {
                return false;
            }
            line = trimRight(trimLeft(line));
            if (!line.empty() && line[0] == u'[') {
                lines.rewind(position, ended);
                return false;
            }
            if (line.find(u'\0') != View::npos) {
                return false;
            }
            if (line.empty() || line.back() != u'\\') {
                joined.append(line);
                return true;
            }
            joined.append(line.substr(0, line.size() - 1));
        }
    }

    std::optional<Value> valueData(View data) const {
        Value value;
        if (!data.empty() && data[0] == u'"') {
            size_t position = 0;
            const auto text = quoted(data, position);
            if (!text || position != data.size()) {
                return std::nullopt;
            }
            value.type = kRegistryString;
            value.data = utf16Bytes(*text);
            value.data.push_back(0);
            value.data.push_back(0);
            return value;
        }
        if (startsFolded(data, u"dword:")) {
            const auto number = hexNumber(data.substr(6));
            if (!number) {
                return std::nullopt;
            }
            value.type = kRegistryDword;
            appendLittleEndian(value.data, *number, 4);
            return value;
        }
        View list;
        if (startsFolded(data, u"hex:")) {
            value.type = kRegistryBinary;
            list = data.substr(4);
        } else if (startsFolded(data, u"hex(")) {
            const size_t close = data.find(u"):");
            const auto type =
                close == View::npos ? std::nullopt : hexNumber(data.substr(4, close - 4));
            if (!type) {
                return std::nullopt;
            }
            value.type = *type;
            list = data.substr(close + 2);
        } else {
            return std::nullopt;
        }
        auto bytes = hexBytes(list);
        if (!bytes) {
            return std::nullopt;
        }
        const bool eightBitText = value.type == kRegistryString ||
                                  value.type == kRegistryExpandString ||
                                  value.type == kRegistryMultiString;
        value.data = !m_unicode && eightBitText ? utf16Bytes(fromUtf8(bytes->data(), bytes->size()))
                                                : std::move(*bytes);
        return value;
    }

    static void finish(Key& key) {
        key.m_ordered.reserve(key.m_subkeys.size());
        for (auto& entry : key.m_subkeys) {
            finish(*entry.second);
            key.m_ordered.push_back(entry.second.get());
        }
    }

    Key& m_root;
    SkipReport* m_skipped;
    size_t m_line = 0;  // the line being read
    // Why a value is skipped while no key is open; null when the section that left none open
    // has said so.
    const char* m_orphans = "a value before the first section";
    Key* m_current = nullptr;
    bool m_unicode = true;
    size_t m_keys = 0;
    size_t m_values = 0;
};

std::unique_ptr<Key> parse(const uint8_t* bytes, size_t size, SkipReport* skipped) {
    auto root = std::make_unique<Key>(u"");
    if (size > kMaxFileBytes) {
        if (skipped != nullptr) {
            skipped->lines.push_back({1, "the file is over 4 MiB: the whole file is skipped"});
        }
        return root;
    }
    const Text text = bytes == nullptr ? Text() : decode(bytes, size);
    Reader(*root, skipped).read(text);
    return root;
}

}  // namespace qir::sys::regfile
