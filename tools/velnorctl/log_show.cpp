#include "log_show.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <queue>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "arguments.h"
#include "command_line.h"
#include "log_format.h"
#include "log_reader.h"
#include "qir_log_data.h"
#include "qir_sys/unicode.h"

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr size_t kSpillBytes = 256 * 1024;
constexpr unsigned long long kMaxLast = 10000000;
// Files open at once, whatever their number, and fewer once the system has no descriptor left:
// the others wait closed, each remembering where it stopped and keeping its share of
// kLookahead bytes not yet shown.
constexpr size_t kOpenFiles = 64;
constexpr size_t kLookahead = 16 * 1024 * 1024;

struct Filters {
    std::vector<std::string> severities;  // upper case
    bool since = false, until = false;
    int64_t sinceKey = 0, untilKey = 0;
    std::string application;
    bool pid = false;
    uint32_t pidValue = 0;
    std::string function;

    bool any() const {
        return !severities.empty() || since || until || !application.empty() || pid ||
               !function.empty();
    }
};

struct Options {
    std::vector<std::string> files;
    bool follow = false, json = false, withFile = false, last = false;
    size_t lastCount = 0;
    Filters filters;
};

std::string upper(std::string text) {
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

std::string utf8(const Span& text) {
    std::string out;
    qir::sys::utf16ToUtf8(text.units, text.count, out, true);
    return out;
}

bool parseNumber(const char* text, unsigned long long most, unsigned long long& out) {
    errno = 0;
    char* end = nullptr;
    out = std::strtoull(text, &end, 10);
    return errno == 0 && end != text && *end == '\0' && text[0] >= '0' && text[0] <= '9' &&
           out <= most;
}

// YYYY-MM-DD[THH:MM[:SS]] (a blank in place of T too); the parts left out are the start of the
// day or minute, or with `end` its last second.
bool parseTime(const char* text, bool end, int64_t& key) {
    const size_t length = std::strlen(text);
    static const char kForm[] = "0000-00-00T00:00:00";
    if (length != 10 && length != 16 && length != 19) {
        return false;
    }
    int values[6] = {0, 0, 0, end ? 23 : 0, end ? 59 : 0, end ? 59 : 0};
    for (size_t i = 0, field = 0; i < length; ++i) {
        const char c = text[i];
        if (kForm[i] == '0') {
            if (c < '0' || c > '9') {
                return false;
            }
            values[field] = (i == 0 || kForm[i - 1] != '0' ? 0 : values[field] * 10) + (c - '0');
        } else if (c != kForm[i] && !(kForm[i] == 'T' && c == ' ')) {
            return false;
        } else {
            ++field;
        }
    }
    LineTime t;
    t.year = values[0];
    t.month = values[1];
    t.day = values[2];
    t.hour = values[3];
    t.minute = values[4];
    t.second = values[5];
    key = t.key();
    return t.valid();
}

bool parseSeverities(const char* list, std::vector<std::string>& out) {
    std::vector<std::string> known = {"UNSPECIFIED"};
    for (uint32_t bit = 0; bit < 11; ++bit) {
        const qir_wchar_t* name = qirSeverityName(1u << bit);
        known.push_back(utf8(Span{name, std::char_traits<qir_wchar_t>::length(name)}));
    }
    std::string text = upper(list) + ",";
    for (size_t start = 0, comma = 0; start < text.size(); start = comma + 1) {
        comma = text.find(',', start);
        const std::string name = text.substr(start, comma - start);
        bool found = false;
        for (const std::string& k : known) {
            found = found || k == name;
        }
        if (!found) {
            return false;
        }
        out.push_back(name);
    }
    return true;
}

// Answers 0 when the options were read, else the usage message.
const char* parseOptions(int argc, char** argv, int first, Options& o) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = arg == "-n" || arg == "--severity" || arg == "--since" ||
                            arg == "--until" || arg == "--app" || arg == "--pid" ||
                            arg == "--export";
        if (valued && i + 1 == argc) {
            return "log show: an option lacks its value";
        }
        const char* value = valued ? argv[++i] : "";
        unsigned long long number = 0;
        if (arg == "--follow" || arg == "--json" || arg == "--with-file") {
            (arg == "--follow" ? o.follow : arg == "--json" ? o.json : o.withFile) = true;
        } else if (arg == "-n") {
            if (!parseNumber(value, kMaxLast, number)) {
                return "-n takes a whole number up to 10000000";
            }
            o.last = true;
            o.lastCount = static_cast<size_t>(number);
        } else if (arg == "--severity") {
            if (!parseSeverities(value, o.filters.severities)) {
                return "--severity takes a comma list of CRITICAL, EXCEPTION, ERROR, WARNING, "
                       "DEBUG, INFORMATION, SUCCESS, FAILURE, UNIT_TEST_FAILURE, AUDIT_SUCCESS, "
                       "AUDIT_FAILURE, UNSPECIFIED";
            }
        } else if (arg == "--since" || arg == "--until") {
            const bool until = arg == "--until";
            if (!parseTime(value, until, until ? o.filters.untilKey : o.filters.sinceKey)) {
                return "--since and --until take YYYY-MM-DD[THH:MM[:SS]]";
            }
            (until ? o.filters.until : o.filters.since) = true;
        } else if (arg == "--app" || arg == "--export") {
            if (value[0] == '\0') {
                return "--app and --export take a name";
            }
            (arg == "--app" ? o.filters.application : o.filters.function) = value;
        } else if (arg == "--pid") {
            if (!parseNumber(value, UINT32_MAX, number)) {
                return "--pid takes a process id";
            }
            o.filters.pid = true;
            o.filters.pidValue = static_cast<uint32_t>(number);
        } else if (arg == "-" || arg[0] != '-') {
            appendFileArgument(arg, o.files);
        } else {
            return "log show: unknown option";
        }
    }
    size_t standardInputs = 0;
    for (const std::string& file : o.files) {
        standardInputs += file == "-";
    }
    if (o.files.empty()) {
        return "log show needs a FILE (or - for standard input)";
    }
    if (standardInputs > 1 || (standardInputs == 1 && o.follow)) {
        return "log show reads - once, and does not follow it";
    }
    return nullptr;
}

// Text written to stdout in large blocks.
class Output {
  public:
    std::string& text() { return m_text; }
    void spill() {
        if (m_text.size() >= kSpillBytes) {
            write();
        }
    }
    bool flush() {
        write();
        m_failed = m_failed || std::fflush(stdout) != 0;
        return !m_failed;
    }

  private:
    void write() {
        m_failed =
            m_failed || std::fwrite(m_text.data(), 1, m_text.size(), stdout) != m_text.size();
        m_text.clear();
    }

    std::string m_text;
    bool m_failed = false;
};

class Show {
  public:
    explicit Show(Options options) : m_o(std::move(options)) {}
    int run();

  private:
    struct Input {
        Input(const std::string& name, bool follow) : stream(name, follow) {}
        LogStream stream;
        Span head;
        int64_t key = 0;
        bool has = false;
        bool ready = false;   // there may be lines to read now
        bool parked = false;  // the stream was parked: its head is read again before it is shown
        uint64_t used = 0;
    };

    bool take(Input& in);
    bool opened(Input& in, bool resume);
    size_t openCount() const;
    void makeRoom();
    void pull(Input& in, bool last);
    void round(bool last);
    bool selected(const Span& line, Record& record, bool& parsed);
    void emit(const Input& in);
    void printRing();

    Options m_o;
    std::vector<Input> m_inputs;
    Output m_out;
    std::deque<std::string> m_ring;
    bool m_ringOn = false;
    uint64_t m_clock = 0;
    size_t m_openFiles = kOpenFiles;
    std::string m_scratch;
};

size_t Show::openCount() const {
    size_t open = 0;
    for (const Input& in : m_inputs) {
        open += in.stream.isOpen() && !in.stream.isStandardInput() ? 1 : 0;
    }
    return open;
}

// Closes the file used longest ago when m_openFiles are open.
void Show::makeRoom() {
    Input* oldest = nullptr;
    size_t open = 0;
    for (Input& in : m_inputs) {
        if (in.stream.isOpen() && !in.stream.isStandardInput()) {
            ++open;
            if (oldest == nullptr || in.used < oldest->used) {
                oldest = &in;
            }
        }
    }
    if (oldest != nullptr && open >= m_openFiles) {
        oldest->stream.park(oldest->has);
        oldest->parked = oldest->has;
    }
}

// Opens (or resumes) the file of `in`. Where the system has no descriptor left, as many files
// as are open now are the most held from then on, and one of them makes room.
bool Show::opened(Input& in, bool resume) {
    for (;;) {
        const bool ok = resume ? in.stream.resume() : in.stream.open();
        if (ok || !in.stream.lacksDescriptor()) {
            return ok;
        }
        m_openFiles = openCount();
        if (m_openFiles == 0) {
            in.stream.giveUp();
            return false;
        }
        makeRoom();
    }
}

bool Show::take(Input& in) {
    in.used = ++m_clock;
    if (in.stream.isOpen() || in.stream.isStandardInput()) {
        return true;
    }
    makeRoom();
    return opened(in, true);
}

void Show::pull(Input& in, bool last) {
    in.parked = false;
    in.used = in.ready && in.stream.isOpen() ? ++m_clock : in.used;
    in.has = in.ready && in.stream.next(in.head, last);
    if (!in.has && in.ready && in.stream.needsFile() && take(in)) {
        in.has = in.stream.next(in.head, last);
    }
    in.ready = in.has;
    if (!in.has && !m_o.follow) {
        in.stream.park(false);
    }
    LineTime time;
    if (in.has && m_inputs.size() > 1 && parseLineTime(in.head, time)) {
        in.stream.lastKey = time.key();
    }
    in.key = in.stream.lastKey;  // a line without a time stays beside the line before it
}

// Gives out every line that can be read now, merged by time: the earliest head of all inputs
// first, and of heads of the same second the one of the file named first.
void Show::round(bool last) {
    using Head = std::pair<int64_t, size_t>;  // the key of an input's head, and its place
    std::priority_queue<Head, std::vector<Head>, std::greater<Head>> heads;
    for (size_t k = 0; k < m_inputs.size(); ++k) {
        Input& in = m_inputs[k];
        if (!in.has) {
            pull(in, last);
        }
        if (in.has) {
            heads.emplace(in.key, k);
        }
    }
    while (!heads.empty()) {
        const size_t k = heads.top().second;
        Input& in = m_inputs[k];
        heads.pop();
        if (!in.parked) {
            emit(in);
        }
        pull(in, last);  // the next line, or the head again when its stream was parked
        if (in.has) {
            heads.emplace(in.key, k);
        }
    }
}

// Filters choose records: a line that is not one passes none of them.
bool Show::selected(const Span& line, Record& record, bool& parsed) {
    const Filters& f = m_o.filters;
    if (!f.any()) {
        return true;
    }
    parsed = parsed || parseRecord(line, record);
    if (!parsed) {
        return false;
    }
    if (!f.severities.empty()) {
        const std::string severity = upper(utf8(record.severity));
        bool found = false;
        for (const std::string& s : f.severities) {
            found = found || s == severity;
        }
        if (!found) {
            return false;
        }
    }
    LineTime time;
    if ((f.since || f.until) &&
        (!parseLineTime(line, time) || (f.since && time.key() < f.sinceKey) ||
         (f.until && time.key() > f.untilKey))) {
        return false;
    }
    if (f.pid && record.pid != f.pidValue) {
        return false;
    }
    if (!f.application.empty() && upper(utf8(record.application)) != upper(f.application)) {
        return false;
    }
    const std::string suffix = "::" + f.function;
    const std::string member = f.function.empty() ? std::string() : utf8(record.member);
    return f.function.empty() ||
           (member.size() >= suffix.size() &&
            member.compare(member.size() - suffix.size(), suffix.size(), suffix) == 0);
}

void Show::emit(const Input& in) {
    if (m_ringOn && m_o.lastCount == 0) {
        return;
    }
    Record record;
    bool parsed = false;
    if (!selected(in.head, record, parsed)) {
        return;
    }
    if (m_ringOn && m_ring.size() == m_o.lastCount) {
        m_ring.push_back(std::move(m_ring.front()));
        m_ring.pop_front();
        m_ring.back().clear();
    } else if (m_ringOn) {
        m_ring.emplace_back();
    }
    std::string& out = m_ringOn ? m_ring.back() : m_out.text();
    appendLine(out, in.head, parsed ? &record : nullptr, m_o.withFile ? &in.stream.name() : nullptr,
               m_o.json);
    m_out.spill();
}

void Show::printRing() {
    for (const std::string& line : m_ring) {
        m_out.text() += line;
        m_out.spill();
    }
    m_ringOn = false;
    std::deque<std::string>().swap(m_ring);
}

int Show::run() {
    m_inputs.reserve(m_o.files.size());
    bool failed = false;
    m_ringOn = m_o.last;
    for (const std::string& file : m_o.files) {
        m_inputs.emplace_back(file, m_o.follow);
    }
    for (Input& in : m_inputs) {
        if (m_inputs.size() > kOpenFiles) {
            const size_t share = kLookahead / m_inputs.size();
            in.stream.setSizes(std::min<size_t>(std::max<size_t>(share, 4096), 65536), share);
        }
        makeRoom();
        in.used = ++m_clock;
        in.ready = opened(in, false);
        pull(in, !m_o.follow);
    }
    round(!m_o.follow);
    printRing();
    bool following = false;
    for (Input& in : m_inputs) {
        failed = in.stream.failed() || failed;
        following = following || !in.stream.failed();
    }
    if (!m_out.flush()) {
        std::fprintf(stderr, "velnorctl: cannot write the output\n");
        return kExitFailed;
    }
    if (!m_o.follow || !following) {
        return failed ? kExitFailed : kExitOk;
    }
    for (;;) {
        std::this_thread::sleep_for(kPollInterval);
        for (Input& in : m_inputs) {
            if (in.stream.changed()) {
                if (!in.stream.isOpen()) {
                    makeRoom();
                }
                in.used = ++m_clock;
                in.ready = in.stream.poll() || in.ready;
            }
        }
        round(false);
        // A reader that went away ends the follow now, not at the next line there is to print.
        if (!m_out.flush() || qir::sys::standardOutputGone()) {
            return kExitFailed;
        }
    }
}

}  // namespace

int logShow(int argc, char** argv, int first, int (*usage)(const char*)) {
    try {
        Options options;
        const char* problem = parseOptions(argc, argv, first, options);
        return problem != nullptr ? usage(problem) : Show(std::move(options)).run();
    } catch (...) {
        std::fprintf(stderr, "velnorctl: log show: out of memory\n");
        return kExitFailed;
    }
}
