#include "log_format.h"

#include <cstdio>

#include "qir_sys/unicode.h"

namespace {

void appendName(std::string& out, const std::string& name, bool json) {
    std::basic_string<Unit> units;
    qir::sys::utf8ToUtf16(name.data(), name.size(), units);
    out += json ? "\"log\":\"" : "";
    appendText(out, Span{units.data(), units.size()}, json);
    out += json ? "\"," : ": ";
}

void appendField(std::string& out, const char* name, const Span& value) {
    out += ",\"";
    out += name;
    out += "\":\"";
    appendText(out, value, true);
    out += '"';
}

void appendNumber(std::string& out, const char* name, uint32_t value) {
    out += ",\"";
    out += name;
    out += "\":";
    out += std::to_string(value);
}

}  // namespace

void appendLine(std::string& out, const Span& line, const Record* record, const std::string* file,
                bool json) {
    if (!json) {
        if (file != nullptr) {
            appendName(out, *file, false);
        }
        appendText(out, line, false);
        out += '\n';
        return;
    }
    out += '{';
    if (file != nullptr) {
        appendName(out, *file, true);
    }
    Record parsed;
    if (record == nullptr && parseRecord(line, parsed)) {
        record = &parsed;
    }
    if (record == nullptr) {
        out += "\"text\":\"";
        appendText(out, line, true);
        out += "\"}\n";
        return;
    }
    LineTime time;
    if (parseLineTime(line, time)) {
        char iso[32];
        std::snprintf(iso, sizeof iso, "\"time\":\"%04d-%02d-%02dT%02d:%02d:%02d\"", time.year,
                      time.month, time.day, time.hour, time.minute, time.second);
        out += iso;
    } else {
        out += "\"time\":null";
    }
    appendField(out, "severity", record->severity);
    appendField(out, "application", record->application);
    appendNumber(out, "pid", record->pid);
    appendNumber(out, "tid", record->tid);
    appendField(out, "object", record->object);
    appendField(out, "function", record->function);
    appendField(out, "message", record->message);
    appendField(out, "task", record->task);
    appendNumber(out, "return_code", record->returnCode);
    appendField(out, "file", record->file);
    appendNumber(out, "line", record->line);
    out += "}\n";
}
