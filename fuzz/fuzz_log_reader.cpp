// velnorctl's log reader: any bytes as a log file, read as a stream of lines, each line printed as
// text and as JSON after a file name of any bytes. Every printed line is UTF-8 without a control
// character but its end (and TAB in text); the JSON is well formed and its strings read back to the
// texts of the record's fields; times that read are in range and order as their fields do; the
// stream ends. The first byte chooses: bit 0 a byte order mark before the rest, bits 1-3 the
// length of the file's name, which follows it.
#include <sys/mman.h>
#include <unistd.h>

#include <ctime>
#include <map>
#include <string_view>
#include <tuple>

#define FUZZ_ONE_LOCALE
#include "fuzz.h"
#include "log_format.h"
#include "qir_sys/unicode.h"

// The text as UTF-8, zero units too, an unpaired surrogate as U+FFFD.
static std::string utf8(const Span& text) {
    std::string out;
    for (size_t i = 0; i < text.count;) {
        uint32_t c = 0;
        i += qir::sys::getUtf16(text.units + i, text.count - i, c);
        qir::sys::appendUtf8(out, qir::sys::isSurrogate(c) ? qir::sys::kReplacementCharacter : c);
    }
    return out;
}

// Checks that `out` is one line of UTF-8 without a control character but those `allowed`.
static void checkLine(const std::string& out, bool json) {
    FUZZ_CHECK(!out.empty() && out.back() == '\n' && out.find('\n') == out.size() - 1);
    for (size_t i = 0; i + 1 < out.size();) {
        uint32_t c = 0;
        const size_t length = qir::sys::decodeUtf8(out.data() + i, out.size() - i, c);
        FUZZ_CHECK(length != 0 && qir::sys::isShortestUtf8(c, length));
        FUZZ_CHECK((c >= 0x20 || (c == '\t' && !json)) && (c < 0x7F || c > 0x9F));
        i += length;
    }
}

// A JSON Lines object of strings, numbers and nulls, as member -> value (a string's text after a
// quote, a number's digits, "null"); false when it is not one.
static bool readObject(const std::string& line, std::map<std::string, std::string>& out) {
    size_t i = 1;
    const auto at = [&line](size_t k) { return k < line.size() ? line[k] : '\0'; };
    const auto string = [&](std::string& text) {
        if (at(i++) != '"')
            return false;
        for (char c = at(i); c != '"'; c = at(i)) {
            if (i >= line.size())
                return false;
            if (c != '\\') {
                text += c;
                ++i;
                continue;
            }
            const char escaped = at(i + 1);
            const std::string hex = escaped == 'u' ? line.substr(i + 2, 4) : "";
            i += escaped == 'u' ? 6 : 2;
            if (escaped == '"' || escaped == '\\') {
                text += escaped;
                continue;
            }
            // No surrogate is escaped: the text around it is UTF-8 already.
            if (hex.size() != 4 || hex.find_first_not_of("0123456789abcdef") != hex.npos ||
                qir::sys::isSurrogate(std::strtoul(hex.c_str(), nullptr, 16)))
                return false;
            qir::sys::appendUtf8(text, std::strtoul(hex.c_str(), nullptr, 16));
        }
        ++i;
        return true;
    };
    if (at(0) != '{')
        return false;
    for (;;) {
        std::string name, value;
        if (!string(name) || at(i++) != ':' || out.count(name) != 0)
            return false;
        if (at(i) == '"') {
            if (!string(value))
                return false;
            value.insert(0, 1, '"');
        } else {
            const size_t end = std::min(line.find_first_of(",}", i), line.size());
            value = line.substr(i, end - i);
            i = end;
            if (value != "null" &&
                (value.empty() || value.find_first_not_of("0123456789") != value.npos))
                return false;
        }
        out[name] = value;
        if (at(i) == '}')
            return i + 2 == line.size();
        if (at(i++) != ',')
            return false;
    }
}

// The object holds the file's name (bytes that are not UTF-8 read as U+FFFD), then the record's
// fields as the parsers read them, or the line's text when it is no record.
static void checkJson(const std::string& out, const Span& line, const std::string& name) {
    std::map<std::string, std::string> got;
    FUZZ_CHECK(readObject(out, got));
    const size_t members = got.size();
    std::u16string units;
    qir::sys::utf8ToUtf16(name.data(), name.size(), units);
    FUZZ_CHECK(got["log"] == '"' + utf8(Span{units.data(), units.size()}));
    Record r;
    if (!parseRecord(line, r)) {
        FUZZ_CHECK(members == 2 && got["text"] == '"' + utf8(line));
        return;
    }
    const std::pair<const char*, Span> texts[] = {
        {"severity", r.severity}, {"application", r.application}, {"object", r.object},
        {"function", r.function}, {"message", r.message},         {"task", r.task},
        {"file", r.file}};
    for (const auto& [field, span] : texts)
        FUZZ_CHECK(got[field] == '"' + utf8(span));
    const std::pair<const char*, uint32_t> numbers[] = {
        {"pid", r.pid}, {"tid", r.tid}, {"return_code", r.returnCode}, {"line", r.line}};
    for (const auto& [field, number] : numbers)
        FUZZ_CHECK(got[field] == std::to_string(number));
    LineTime t;
    char iso[32] = "null";
    if (parseLineTime(line, t))
        std::snprintf(iso, sizeof iso, "\"%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day,
                      t.hour, t.minute, t.second);
    FUZZ_CHECK(members == 13 && got["time"] == iso);
}

void fuzz::testOne(const uint8_t* data, size_t size) {
    static const int file = memfd_create("log", 0);
    FUZZ_CHECK(file >= 0);
    if (size == 0)
        return;
    const size_t nameLength = std::min<size_t>((data[0] >> 1) & 7, size - 1);
    const std::string name(data + 1, data + 1 + nameLength);
    std::string bytes = data[0] & 1 ? "\xFF\xFE" : "";
    bytes.append(data + 1 + nameLength, data + size);
    FUZZ_CHECK(ftruncate(file, 0) == 0 &&
               pwrite(file, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));

    LogStream stream("/proc/self/fd/" + std::to_string(file), false);
    FUZZ_CHECK(stream.open());
    Span line;
    size_t lines = 0;
    std::tuple<int, int, int, int, int, int> before;
    int64_t keyBefore = -1;
    while (stream.next(line, true)) {
        FUZZ_CHECK(++lines <= bytes.size() / 2 + 1);
        FUZZ_CHECK(std::u16string_view(line.units, line.count).find(u"\r\n") ==
                   std::u16string_view::npos);
        for (const bool json : {false, true}) {
            std::string out;
            appendLine(out, line, nullptr, &name, json);
            checkLine(out, json);
            if (json)
                checkJson(out, line, name);
        }
        LineTime t;
        if (parseLineTime(line, t)) {
            // A time that reads is one of the calendar: it gives its fields back.
            const auto fields = std::make_tuple(t.year, t.month, t.day, t.hour, t.minute, t.second);
            std::tm calendar{};
            calendar.tm_year = t.year - 1900;
            calendar.tm_mon = t.month - 1;
            calendar.tm_mday = t.day;
            calendar.tm_hour = t.hour;
            calendar.tm_min = t.minute;
            calendar.tm_sec = t.second;
            const std::time_t seconds = timegm(&calendar);
            FUZZ_CHECK(gmtime_r(&seconds, &calendar) != nullptr &&
                       std::make_tuple(calendar.tm_year + 1900, calendar.tm_mon + 1,
                                       calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
                                       calendar.tm_sec) == fields);
            FUZZ_CHECK(keyBefore < 0 || (keyBefore < t.key()) == (before < fields));
            std::tie(before, keyBefore) = std::make_pair(fields, t.key());
        }
    }
}
