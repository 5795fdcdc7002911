// The forms `log show` prints a line in: as text, or as a JSON object (JSON Lines). Both are
// UTF-8 that holds no control character but the line's end, whatever the line and the file's
// name hold.
#pragma once

#include <string>

#include "log_reader.h"

// Appends `line` and its newline: as text, or with `json` as an object of the record's fields
// (`record` when the caller has parsed the line already, else null) or of its text when it is no
// record. A `file` name (UTF-8; bytes that are not read as U+FFFD) goes first: before ": " as
// text, as the member "log" in JSON.
void appendLine(std::string& out, const Span& line, const Record* record, const std::string* file,
                bool json);
