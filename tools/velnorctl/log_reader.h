// A log file as a stream of lines, read in chunks with bounded memory whatever its size, and the
// fields of a line. Lines are UTF-16 units in the reader's buffer, valid until its next call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "qir_sys/file_read.h"
#include "qir_sys/wide.h"

using Unit = qir::sys::WideUnit;

struct Span {
    const Unit* units = nullptr;
    size_t count = 0;
};

// The local time at the start of a line, "<Www Mmm dd hh:mm:ss yyyy>".
struct LineTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;  // month: 1 to 12
    bool valid() const;   // every field in its range, the day in its month
    int64_t key() const;  // orders valid times as they follow each other
};
// False for text that is not such a time, and for a time whose fields are out of range.
bool parseLineTime(const Span& line, LineTime& out);

// The fields of a record's line: <time> <SEVERITY> <application : pid, tid> <object::function>
// <"message"> <While performing task: "task"> <Return Code: 0x...> <file> <line>. The fields
// up to the member are found from the front, the others from the back, so that a message may
// hold any text.
struct Record {
    Span time, severity, application, member, object, function, message, task, file;
    uint32_t pid = 0, tid = 0, returnCode = 0, line = 0;
};
bool parseRecord(const Span& line, Record& out);

// Appends UTF-16 text as UTF-8 that holds no control character. Text form: C0 controls other
// than TAB, and DEL, as \xNN; C1 controls as \u0080 to \u009f. JSON form: the text of a JSON
// string, with \", \\ and \u00NN for every C0 control, DEL and C1 control. An unpaired
// surrogate becomes U+FFFD in both.
void appendText(std::string& out, const Span& text, bool json);

// One log file (or standard input, named "-") read line by line. What goes wrong is said on
// stderr, naming the file; failed() then tells it.
class LogStream {
  public:
    explicit LogStream(std::string name) : m_name(std::move(name)) {}

    const std::string& name() const { return m_name; }
    // Opens the file and checks that it is a regular file (any input for "-").
    bool open();
    // For following: looks at the file by its name, and opens it when it holds bytes not yet
    // read; from its start when it has shrunk or another file has taken its name. Idle, it costs
    // one look at the file's facts.
    bool reopen();
    void close() { m_file.close(); }

    // The next whole line of what can be read now; false when there is none. With `last` the
    // input ends here for good: a last line without its CR LF is given too, and an odd byte
    // after it is reported.
    bool next(Span& line, bool last);
    bool failed() const { return m_failed; }

    int64_t lastKey = 0;  // the time of the last line that had one

  private:
    bool fill();
    bool start();
    void fail(const char* what, uint32_t error);

    std::string m_name;
    qir::sys::FileReader m_file;
    qir::sys::FileFacts m_facts;
    uint64_t m_offset = 0;       // bytes read from the file
    std::vector<Unit> m_buffer;  // bytes [0, m_bytes) held; units from m_begin not given out
    size_t m_bytes = 0;
    size_t m_begin = 0;
    size_t m_scan = 0;  // where the search for the next CR LF goes on
    bool m_started = false;
    bool m_end = true;
    bool m_failed = false;
};
