#include "log_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "qir_sys/abi.h"
#include "qir_sys/error.h"
#include "qir_sys/unicode.h"

namespace {

// A line longer than this many units is given out in pieces of about this size.
constexpr size_t kLineCap = 512 * 1024;
// More zero units than this where a file starts (64 KiB) make it no log file.
constexpr size_t kMostZeros = 32 * 1024;
// Bytes kept of a file's start and of the last ones read, to tell it rewritten.
constexpr size_t kPrintBytes = 512;
constexpr Unit kCr = 0x0D;
constexpr Unit kLf = 0x0A;
constexpr Unit kMark = 0xFEFF;

bool at(const Span& s, size_t i, const char* literal) {
    const size_t length = std::strlen(literal);
    if (i > s.count || s.count - i < length) {
        return false;
    }
    for (size_t k = 0; k < length; ++k) {
        if (s.units[i + k] != static_cast<Unit>(literal[k])) {
            return false;
        }
    }
    return true;
}

// The first place in [from, to) where `literal` starts, or `to`.
size_t find(const Span& s, size_t from, size_t to, const char* literal) {
    for (size_t i = from; i < to; ++i) {
        if (at(Span{s.units, to}, i, literal)) {
            return i;
        }
    }
    return to;
}

// The last place in [from, to) where `literal` starts, or `to`.
size_t findLast(const Span& s, size_t from, size_t to, const char* literal) {
    for (size_t i = to; i > from; --i) {
        if (at(Span{s.units, to}, i - 1, literal)) {
            return i - 1;
        }
    }
    return to;
}

Span part(const Span& s, size_t from, size_t to) {
    return Span{s.units + from, to - from};
}

bool number(const Span& s, int base, uint32_t& out) {
    uint64_t value = 0;
    for (size_t i = 0; i < s.count; ++i) {
        const Unit c = s.units[i];
        const int digit = c >= '0' && c <= '9'                 ? c - '0'
                          : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                               : -1;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (digit < 0 || value > UINT32_MAX) {
            return false;
        }
    }
    out = static_cast<uint32_t>(value);
    return s.count > 0;
}

// The first unit at or after `from` (before `to`) for which `stop` holds, or `to`. Blocks of
// units are tested whole, in a loop without an early exit that the compiler vectorizes: the
// scans of every line go at about the speed of memory.
template <class Stop>
size_t skipPast(const Unit* u, size_t from, size_t to, Stop stop) {
    constexpr size_t kBlock = 16;
    size_t i = from;
    for (; to - i >= kBlock; i += kBlock) {
        unsigned any = 0;
        for (size_t k = 0; k < kBlock; ++k) {
            any |= stop(u[i + k]) ? 1u : 0u;
        }
        if (any != 0) {
            break;
        }
    }
    while (i < to && !stop(u[i])) {
        ++i;
    }
    return i;
}

size_t skipTo(const Unit* u, size_t from, size_t to, Unit unit) {
    return skipPast(u, from, to, [unit](Unit c) { return c == unit; });
}

// The C0 controls, DEL and the C1 controls (U+009B is a terminal's CSI).
bool isControl(Unit c) {
    return (c < 0x20) | ((c >= 0x7F) & (c <= 0x9F));
}

bool isTextEscaped(Unit c) {
    return isControl(c) & (c != '\t');
}

bool isJsonEscaped(Unit c) {
    return isControl(c) | (c == '"') | (c == '\\');
}

int twoDigits(const Span& s, size_t i) {
    const Unit a = s.units[i];
    const Unit b = s.units[i + 1];
    return a >= '0' && a <= '9' && b >= '0' && b <= '9' ? (a - '0') * 10 + (b - '0') : -1;
}

}  // namespace

bool LineTime::valid() const {
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return year >= 0 && month >= 1 && month <= 12 && day >= 1 &&
           day <= (month == 2 && !leap ? 28 : kDays[month - 1]) && hour >= 0 && hour < 24 &&
           minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

int64_t LineTime::key() const {
    return ((((int64_t{year} * 16 + month) * 32 + day) * 32 + hour) * 64 + minute) * 64 + second;
}

bool parseLineTime(const Span& line, LineTime& out) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const Unit* u = line.units;
    if (line.count < 26 || u[0] != '<' || u[4] != ' ' || u[8] != ' ' || u[11] != ' ' ||
        u[14] != ':' || u[17] != ':' || u[20] != ' ' || u[25] != '>') {
        return false;
    }
    out.month = 0;
    for (int m = 0; m < 12 && out.month == 0; ++m) {
        const char name[4] = {kMonths[3 * m], kMonths[3 * m + 1], kMonths[3 * m + 2], '\0'};
        out.month = at(line, 5, name) ? m + 1 : 0;
    }
    out.day = twoDigits(line, 9);
    out.hour = twoDigits(line, 12);
    out.minute = twoDigits(line, 15);
    out.second = twoDigits(line, 18);
    const int century = twoDigits(line, 21);
    const int year = twoDigits(line, 23);
    out.year = century < 0 || year < 0 ? -1 : century * 100 + year;
    return out.valid();
}

bool parseRecord(const Span& line, Record& r) {
    const size_t n = line.count;
    if (!at(line, 0, "<") || n < 2 || line.units[n - 1] != '>') {
        return false;
    }
    const size_t timeEnd = find(line, 1, n, "> <");
    const size_t severityEnd = find(line, timeEnd + 3, n, "> <");
    const size_t processEnd = find(line, severityEnd + 3, n, "> <");
    const size_t memberEnd = find(line, processEnd + 3, n, "> <\"");
    if (memberEnd == n) {
        return false;
    }
    r.time = part(line, 1, timeEnd);
    r.severity = part(line, timeEnd + 3, severityEnd);
    const Span process = part(line, severityEnd + 3, processEnd);
    const size_t colon = findLast(process, 0, process.count, " : ");
    const size_t comma = find(process, colon, process.count, ", ");
    if (colon == process.count || comma == process.count ||
        !number(part(process, colon + 3, comma), 10, r.pid) ||
        !number(part(process, comma + 2, process.count), 10, r.tid)) {
        return false;
    }
    r.application = part(process, 0, colon);
    r.member = part(line, processEnd + 3, memberEnd);
    const size_t scope = find(r.member, 0, r.member.count, "::");
    r.object = part(r.member, 0, scope);
    r.function = part(r.member, scope == r.member.count ? scope : scope + 2, r.member.count);
    // From the back: <file> <line>, the return code, the task, and the message is what is left.
    const size_t lineStart = findLast(line, memberEnd, n, "> <");
    const size_t fileStart = findLast(line, memberEnd, lineStart, "> <");
    const size_t codeStart = findLast(line, memberEnd, fileStart, "\"> <Return Code: 0x");
    const size_t taskStart = findLast(line, memberEnd, codeStart, "\"> <While performing task: \"");
    if (lineStart == n || fileStart == lineStart || codeStart == fileStart ||
        taskStart == codeStart || taskStart < memberEnd + 4 ||
        !number(part(line, lineStart + 3, n - 1), 10, r.line) ||
        !number(part(line, codeStart + 19, fileStart), 16, r.returnCode)) {
        return false;
    }
    r.file = part(line, fileStart + 3, lineStart);
    r.task = part(line, taskStart + 28, codeStart);
    r.message = part(line, memberEnd + 4, taskStart);
    return true;
}

void appendText(std::string& out, const Span& text, bool json) {
    static const char kHex[] = "0123456789abcdef";
    size_t from = 0;
    for (size_t i = 0;; ++i) {
        i = json ? skipPast(text.units, i, text.count, isJsonEscaped)
                 : skipPast(text.units, i, text.count, isTextEscaped);
        const Unit c = i < text.count ? text.units[i] : 0;
        qir::sys::utf16ToUtf8(text.units + from, i - from, out, true);
        from = i + 1;
        if (i == text.count) {
            break;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            out += json || c >= 0x80 ? "\\u00" : "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

LogStream::LogStream(std::string name, bool follow) : m_name(std::move(name)), m_follow(follow) {
    std::basic_string<Unit> units;
    qir::sys::utf8ToUtf16(m_name.data(), m_name.size(), units);
    appendText(m_label, Span{units.data(), units.size()}, false);
}

void LogStream::fail(const char* what, uint32_t error) {
    std::fprintf(stderr, "velnorctl: %s %s: %s\n", what, m_label.c_str(),
                 qir::sys::errorText(error).c_str());
    m_failed = true;
    m_end = true;
    m_file.close();
}

void LogStream::giveUp() {
    fail("cannot read", qir::sys::kErrorTooManyOpenFiles);
}

// Without --follow a file that is not a log has failed; following, its name is watched for a
// file that is one.
bool LogStream::reject(const char* why) {
    std::fprintf(stderr, "velnorctl: %s is not a log file: %s\n", m_label.c_str(), why);
    (m_follow ? m_rejected : m_failed) = true;
    m_end = true;
    m_file.close();
    std::vector<Unit>().swap(m_buffer);
    m_bytes = m_begin = m_scan = 0;
    return false;
}

bool LogStream::open() {
    if (isStandardInput()) {
        const uint32_t error = m_file.openStandardInput();
        if (error != 0) {
            fail("cannot read", error);
        }
        m_end = error != 0;
        return error == 0;
    }
    uint32_t error = m_file.open(m_name.c_str());
    m_lacksDescriptor = error == qir::sys::kErrorTooManyOpenFiles;
    if (error == 0) {
        error = m_file.facts(m_facts);
    }
    if (m_lacksDescriptor) {
        return false;
    }
    if (error != 0) {
        fail("cannot read", error);
        return false;
    }
    if (m_facts.kind != qir::sys::FileKind::Regular) {
        std::fprintf(stderr, "velnorctl: cannot read %s: %s\n", m_label.c_str(),
                     m_facts.kind == qir::sys::FileKind::Folder
                         ? "Is a directory"
                         : "not a regular file (a device, a pipe or a socket)");
        m_failed = true;
        m_file.close();
        return false;
    }
    m_known = true;
    m_end = false;
    return true;
}

// Forgets what was read: the file under the name is read from its start, as a new one.
void LogStream::restart() {
    std::vector<Unit>().swap(m_buffer);
    m_offset = m_lineOffset = m_printEnd = 0;
    m_bytes = m_begin = m_scan = m_zeros = 0;
    m_head.clear();
    m_tail.clear();
    m_known = m_switch = m_rejected = m_started = false;
    m_announce = true;
    m_end = true;
}

// Whether the open file still holds, where they were read, its first bytes and the last ones
// read.
bool LogStream::same() {
    std::string bytes;
    const auto holds = [&](uint64_t at, const std::string& want) {
        bytes.resize(want.size());
        size_t total = 0;
        size_t got = 1;
        if (m_file.seek(at) != 0) {
            return false;
        }
        while (total < want.size() && got != 0) {
            if (m_file.read(&bytes[total], want.size() - total, got) != 0) {
                return false;
            }
            total += got;
        }
        return bytes == want;
    };
    return holds(0, m_head) && holds(m_printEnd - m_tail.size(), m_tail);
}

bool LogStream::changed() const {
    if (m_failed || isStandardInput()) {
        return false;
    }
    qir::sys::FileFacts now;
    qir::sys::FileFacts held;
    const bool named = qir::sys::fileFacts(m_name.c_str(), now) == 0;
    if (m_switch || (m_file && (m_file.facts(held) != 0 || !named || !sameFile(now, held)))) {
        return true;
    }
    return named && (!m_known || !sameFile(now, m_facts) || now.modified != m_facts.modified ||
                     now.size != (m_rejected ? m_facts.size : m_offset));
}

bool LogStream::poll() {
    if (m_failed || isStandardInput()) {
        return false;
    }
    if (m_switch) {
        m_file.close();
        restart();
    }
    qir::sys::FileFacts now;
    qir::sys::FileFacts held;
    const bool named =
        qir::sys::fileFacts(m_name.c_str(), now) == 0 && now.kind == qir::sys::FileKind::Regular;
    if (m_file && (m_file.facts(held) != 0 || !named || !sameFile(now, held))) {
        m_switch = true;  // renamed or deleted: what it holds still is read first
        m_end = false;
        return true;
    }
    if (!named) {
        return false;  // gone, or not a file yet: waited for
    }
    if (m_known && (!sameFile(now, m_facts) || m_rejected)) {
        m_file.close();
        restart();
    }
    if (!m_file &&
        (m_file.open(m_name.c_str()) != 0 || m_file.facts(now) != 0 ||
         now.kind != qir::sys::FileKind::Regular || (m_known && !sameFile(now, m_facts)))) {
        m_file.close();
        return false;  // it changed between the two looks: the next one tells
    }
    if (m_known && (now.size < m_offset || !same())) {
        restart();
    }
    if (m_announce) {
        std::fprintf(stderr, "velnorctl: %s was truncated or replaced: showing it from its start\n",
                     m_label.c_str());
        m_announce = false;
    }
    m_facts = now;
    m_known = true;
    if (m_file.seek(m_offset) != 0) {
        m_file.close();
        return false;
    }
    m_end = false;
    return true;
}

void LogStream::park(bool again) {
    if (isStandardInput()) {
        return;
    }
    const uint64_t base = m_offset - m_bytes;
    const uint64_t from = again ? m_lineOffset : offsetOf(m_begin);
    const size_t keep = static_cast<size_t>(m_offset - from);
    if (from >= base && keep <= m_lookahead) {
        std::vector<Unit> rest((keep + 1) / 2);
        if (keep > 0) {
            std::memcpy(rest.data(), reinterpret_cast<const char*>(m_buffer.data()) + (from - base),
                        keep);
        }
        m_buffer.swap(rest);
        m_bytes = keep;
    } else {
        std::vector<Unit>().swap(m_buffer);
        m_offset = from;
        m_bytes = 0;
    }
    m_begin = m_scan = 0;
    m_file.close();
}

bool LogStream::resume() {
    if (m_file || m_failed || m_rejected || !m_known) {
        return static_cast<bool>(m_file);
    }
    qir::sys::FileFacts now;
    uint32_t error = m_file.open(m_name.c_str());
    m_lacksDescriptor = error == qir::sys::kErrorTooManyOpenFiles;
    if (m_lacksDescriptor) {
        return false;
    }
    if (error == 0) {
        error = m_file.facts(now);
    }
    const bool replaced = error == 0 && !sameFile(now, m_facts);
    if (error == 0 && !replaced) {
        error = m_file.seek(m_offset);
    }
    if (error == 0 && !replaced) {
        m_end = false;
        return true;
    }
    m_file.close();
    if (!m_follow) {  // following, the next look at the name tells what it holds now
        if (replaced) {
            std::fprintf(stderr, "velnorctl: %s was replaced while it was read\n", m_label.c_str());
        }
        replaced ? void(m_failed = true) : fail("cannot read", error);
    }
    return false;
}

bool LogStream::fill() {
    const size_t chunk = m_chunk / sizeof(Unit);
    if (m_begin > 0 && m_buffer.size() - m_bytes / 2 < chunk) {
        auto* bytes = reinterpret_cast<char*>(m_buffer.data());
        std::memmove(bytes, bytes + 2 * m_begin, m_bytes - 2 * m_begin);
        m_bytes -= 2 * m_begin;
        m_scan -= m_begin;
        m_begin = 0;
    }
    if (m_buffer.size() - m_bytes / 2 < chunk) {
        m_buffer.resize(m_bytes / 2 + 2 * chunk);
    }
    const size_t before = m_bytes / 2;
    const char* data = reinterpret_cast<const char*>(m_buffer.data()) + m_bytes;
    size_t got = 0;
    const uint32_t error = m_file.read(reinterpret_cast<char*>(m_buffer.data()) + m_bytes,
                                       2 * m_buffer.size() - m_bytes, got);
    if (error != 0) {
        fail("cannot read", error);
        return false;
    }
    const uint64_t at = m_offset;
    if (at <= m_head.size() && m_head.size() < kPrintBytes && at + got > m_head.size()) {
        const size_t from = static_cast<size_t>(m_head.size() - at);
        m_head.append(data + from, std::min(got - from, kPrintBytes - m_head.size()));
    }
    if (at != m_printEnd || got >= kPrintBytes) {
        m_tail.clear();
    }
    const size_t keep = std::min(got, kPrintBytes);
    m_tail.append(data + got - keep, keep);
    m_tail.erase(0, m_tail.size() - std::min(m_tail.size(), kPrintBytes));
    m_printEnd = at + got;
    m_bytes += got;
    m_offset += got;
    m_end = got == 0;
    if constexpr (!qir::sys::kLittleEndian) {
        for (size_t k = before; k < m_bytes / 2; ++k) {
            const auto value = static_cast<uint16_t>(m_buffer[k]);
            m_buffer[k] = static_cast<Unit>((value >> 8) | (value << 8));
        }
    }
    return true;
}

// Skips the zero units that a truncation in place can leave where the file had its start (up to
// a bound: an endless run of them is no log), then the byte order mark; a file without the mark
// (cut in place by a rotation: only a new file gets one) is read when its text starts as a line
// does, with '<'.
bool LogStream::start() {
    const size_t units = m_bytes / 2;
    const size_t from = m_begin;
    while (m_begin < units && m_buffer[m_begin] == 0) {
        ++m_begin;
    }
    m_zeros += m_begin - from;
    m_scan = m_begin;
    if (m_zeros > kMostZeros) {
        return reject("it starts with more than 64 KiB of zero bytes");
    }
    if (m_begin == units) {
        return true;
    }
    if (m_buffer[m_begin] == kMark) {
        m_scan = ++m_begin;
    } else if (m_buffer[m_begin] != '<') {
        return reject("it starts with neither the byte order mark FF FE nor UTF-16LE text");
    }
    m_started = true;
    return true;
}

bool LogStream::next(Span& line, bool last) {
    for (;;) {
        if (m_failed || m_rejected || (!m_started && !start())) {
            return false;
        }
        const size_t units = m_bytes / 2;
        const Unit* u = m_buffer.data();
        m_lineOffset = offsetOf(m_begin);
        for (size_t i = m_started ? skipTo(u, m_scan, units, kCr) : units; i + 1 < units;
             i = skipTo(u, i + 1, units, kCr)) {
            if (u[i + 1] == kLf) {
                line = Span{u + m_begin, i - m_begin};
                m_begin = m_scan = i + 2;
                return true;
            }
        }
        m_scan = units > m_begin ? units - 1 : m_begin;
        // A piece never ends between the halves of a surrogate pair, nor on a CR whose LF may
        // be read next.
        const size_t held = units - m_begin;
        const Unit end = held >= kLineCap ? u[m_begin + kLineCap - 1] : 0;
        if (held > kLineCap || (held == kLineCap && end != kCr)) {
            const size_t cut = kLineCap - (end >= 0xD800 && end <= 0xDBFF);
            line = Span{u + m_begin, cut};
            m_begin = m_scan = m_begin + cut;
            return true;
        }
        if (!m_end) {
            if (!m_file || !fill()) {
                return false;
            }
            continue;
        }
        if (!last) {
            return false;
        }
        if (units > m_begin) {
            line = Span{u + m_begin, units - m_begin};
            m_begin = m_scan = units;
            return true;
        }
        if (m_bytes % 2 != 0) {
            std::fprintf(stderr, "velnorctl: %s ends in an odd byte, half a UTF-16 unit\n",
                         m_label.c_str());
            m_failed = true;
            m_bytes -= 1;
        }
        return false;
    }
}
