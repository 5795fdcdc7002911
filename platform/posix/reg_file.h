// The reader of the .reg files that stand for HKEY_LOCAL_MACHINE on POSIX: bytes in, an
// immutable tree of keys and values out. It never touches a file itself, so that tests and
// fuzzers can hand it any bytes.
//
// What it reads: the header "Windows Registry Editor Version 5.00" or "REGEDIT4" on the first
// line; UTF-8 with or without a byte order mark, or UTF-16LE with its byte order mark; lines
// ending in CR LF or LF; blank lines and lines starting with ';'. Sections
// [HKEY_LOCAL_MACHINE\path] open a key and create it and its missing parents;
// [-HKEY_LOCAL_MACHINE\path] deletes a key with its subtree. Other hives (the abbreviation HKLM
// too, which regedit does not take) are skipped with their values. Values: "name" or @ (the
// default value), '=', then "text" (REG_SZ, stored as UTF-16LE with its terminator; escapes
// \\ and \" only), dword:1-8 hex digits (4 bytes little-endian), hex: (REG_BINARY) or hex(type):
// with two hex digits per byte separated by commas, where a '\' at the end of the line continues
// the list on the next one, or - (deletes the value). In a REGEDIT4 file the bytes of hex(1),
// hex(2) and hex(7) are 8-bit text and are stored as UTF-16LE, as RegSetValueExA stores them.
// Names compare with ASCII case folding only; subkeys are ordered as Windows orders them, by
// their names folded to upper case. A later definition of a value replaces an earlier one.
//
// What it refuses: no header, or more than kMaxFileBytes: an empty registry. A line it cannot
// read is skipped: a value with malformed data is missing, and a malformed section line (no
// closing ']', text after it, a name over the limits below) leaves no key open, so that the
// values after it are skipped until the next section. A NUL character makes its line
// malformed. Invalid UTF-8 reads as U+FFFD; unpaired UTF-16 surrogates are kept as they are;
// the odd last byte of a UTF-16 file is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qir_sys/registry.h"

namespace qir::sys::regfile {

constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;
constexpr size_t kMaxKeyNameUnits = 255;      // one key name, as on Windows
constexpr size_t kMaxValueNameUnits = 16383;  // as on Windows
constexpr size_t kMaxDepth = 512;             // key names below HKEY_LOCAL_MACHINE, as on Windows
// Keys and values one file may create; those past the limit are skipped.
constexpr size_t kMaxKeys = 65536;
constexpr size_t kMaxValues = 65536;

struct Value {
    uint32_t type = kRegistryNone;  // a type of qir_sys/registry.h
    std::vector<uint8_t> data;
};

// Orders names as Windows orders subkeys: unit by unit after folding a-z to A-Z.
struct FoldedLess {
    using is_transparent = void;
    bool operator()(std::u16string_view left, std::u16string_view right) const;
};

class Reader;

// One key of a parsed file: its name as first spelled, its values and its subkeys.
class Key {
  public:
    explicit Key(std::u16string_view name) : m_name(name) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::u16string& name() const { return m_name; }
    size_t subkeyCount() const { return m_ordered.size(); }
    // The subkey at `index` < subkeyCount(), in alphabetical order.
    const Key& subkey(size_t index) const { return *m_ordered[index]; }
    const Key* findSubkey(std::u16string_view name) const;
    // An empty name is the default value.
    const Value* findValue(std::u16string_view name) const;
    // Every value by its name, in the order of folded names.
    const std::map<std::u16string, Value, FoldedLess>& values() const { return m_values; }

  private:
    friend class Reader;

    std::u16string m_name;
    std::map<std::u16string, std::unique_ptr<Key>, FoldedLess> m_subkeys;
    std::map<std::u16string, Value, FoldedLess> m_values;
    std::vector<const Key*> m_ordered;
};

// A line the reader skipped, for people: its number (the first line is 1; a value continued
// over several lines is named by its first) and why, in words.
struct Skipped {
    size_t line;
    std::string reason;
};

// The lines skipped: the first kMaxSkipsListed one by one, in file order, then only how many
// more, so that a file of junk lines costs no more than a file of a few.
constexpr size_t kMaxSkipsListed = 32;
struct SkipReport {
    std::vector<Skipped> lines;
    size_t more = 0;
};

// Parses `size` bytes of a .reg file into the key that stands for HKEY_LOCAL_MACHINE (never
// null; without keys or values for bytes that are no registry file). Throws std::bad_alloc
// when memory runs out; the limits above keep what it takes proportional to `size`. When
// `skipped` is given, the lines that were skipped are reported in it; blank lines and comments
// are no skips, nor are the values below a section of another hive, which the section's own
// report covers.
std::unique_ptr<Key> parse(const uint8_t* bytes, size_t size, SkipReport* skipped = nullptr);

}  // namespace qir::sys::regfile
