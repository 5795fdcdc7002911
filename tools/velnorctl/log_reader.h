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
// stderr, naming the file; failed() then tells it. A stream may let go of its file and buffer
// (park) and take them up again where it stopped (resume), so that many files can be read with
// few open at once. Following, a name is followed whatever file it holds: a file that shrank,
// was rewritten or replaced is shown again from its start, saying so on stderr, and a held
// file renamed or deleted is read to its end before the file now under its name.
class LogStream {
  public:
    LogStream(std::string name, bool follow);

    const std::string& name() const { return m_name; }
    // Opens the file and checks that it is a regular file (any input for "-").
    bool open();
    bool isOpen() const { return static_cast<bool>(m_file); }
    bool isStandardInput() const { return m_name == "-"; }
    // For following: whether one look at the file by its name (and at the file held) tells of
    // something to do: bytes not read, another file, a rewrite. poll() then does it, opening
    // the file under the name when needed; it answers whether there may be lines to read.
    bool changed() const;
    bool poll();
    // Closes the file and keeps of its buffer at most the lookahead's bytes not given out
    // (with `again`, from the start of the last line given, which is given again). Once they
    // are given, next() answers false and needsFile() true: resume() opens the same file by
    // its name and goes on where the stream stopped.
    void park(bool again);
    bool needsFile() const { return !m_end && !m_file && !m_failed && !m_rejected; }
    bool resume();
    // The last open() or resume() found no file descriptor free, and nothing has failed yet:
    // the caller may close another file and try again, or give up.
    bool lacksDescriptor() const { return m_lacksDescriptor; }
    void giveUp();

    // The next whole line of what can be read now; false when there is none. With `last` the
    // input ends here for good: a last line without its CR LF is given too, and an odd byte
    // after it is reported.
    bool next(Span& line, bool last);
    bool failed() const { return m_failed; }
    // Reads at most `chunk` bytes at a time (64 KiB unless set); parked, keeps at most
    // `lookahead` bytes.
    void setSizes(size_t chunk, size_t lookahead) {
        m_chunk = chunk;
        m_lookahead = lookahead;
    }

    int64_t lastKey = 0;  // the time of the last line that had one

  private:
    bool fill();
    bool start();
    bool same();
    void restart();
    bool reject(const char* why);
    void fail(const char* what, uint32_t error);
    uint64_t offsetOf(size_t unit) const { return m_offset - m_bytes + 2 * unit; }

    std::string m_name;
    std::string m_label;  // the name as messages show it: escaped as a line's text is
    bool m_follow;
    qir::sys::FileReader m_file;
    qir::sys::FileFacts m_facts;  // of the file read, once m_known
    uint64_t m_offset = 0;        // bytes read from the file
    uint64_t m_lineOffset = 0;    // where the last line given starts
    std::vector<Unit> m_buffer;   // bytes [0, m_bytes) held; units from m_begin not given out
    size_t m_bytes = 0;
    size_t m_begin = 0;
    size_t m_scan = 0;  // where the search for the next CR LF goes on
    size_t m_zeros = 0;
    size_t m_chunk = 64 * 1024;
    size_t m_lookahead = 64 * 1024;
    // The first bytes of the file and the last ones read, ending at m_printEnd: a file that no
    // longer holds them was rewritten.
    std::string m_head, m_tail;
    uint64_t m_printEnd = 0;
    bool m_known = false;     // m_facts are those of the file read
    bool m_switch = false;    // the held file left its name: once read to its end, take the new
    bool m_announce = false;  // say so when the file under the name is shown from its start
    bool m_rejected = false;  // not a log: waits for another file or a change under the name
    bool m_started = false;
    bool m_end = true;
    bool m_failed = false;
    bool m_lacksDescriptor = false;
};
