// One process of a multi-process append run, and the check of the file such runs leave.
//   qir_append_stress PATH TAG THREADS LINES
//       appends LINES lines from each of THREADS threads to PATH (UTF-8)
//   qir_append_stress verify PATH TAGS THREADS LINES
//       checks PATH against the lines of the writers named in TAGS (comma-separated)
// Every line is a record written by the text file output, whose fields are fixed by the writer's
// tag, thread and line number, so that the check knows each line byte for byte. Exit status 0
// when all went well, 1 when not, 2 on a usage error.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "qir_log_output.h"
#include "stress_tools.h"

namespace {

const char kPayload[] = "the quick brown fox jumps over the lazy dog 0123456789";

std::string messageText(const std::string& tag, int thread, int n) {
    return tag + "-" + std::to_string(thread) + "-" + std::to_string(n) + "-" + kPayload;
}

// The line the output writes for the record of (tag, thread, n), without its CR LF.
std::string lineText(const std::string& tag, int thread, int n) {
    return "<T> <ERROR> <stress : 1, " + std::to_string(thread) + "> <Stress::append> <\"" +
           messageText(tag, thread, n) +
           "\"> <While performing task: \"Write\"> <Return Code: 0x00000000> <append_writer> <" +
           std::to_string(n) + ">";
}

CQIRLogData record(const std::string& tag, int thread, int n) {
    const CQIRLogStringWChar text(messageText(tag, thread, n).c_str());
    return CQIRLogData(4, text, 0, CQIRLogStringWChar("Write"), nullptr, 0,
                       static_cast<uint32_t>(thread), 1, CQIRLogStringWChar("stress"),
                       CQIRLogStringWChar("T"), CQIRLogStringWChar("Stress::append"),
                       CQIRLogStringWChar("tests/stress/append_writer"), static_cast<uint32_t>(n));
}

int write(const char* path, const std::string& tag, int threads, int lines) {
    const auto units = std::filesystem::u8path(path).u16string();
    std::vector<qir_wchar_t> file(units.begin(), units.end());
    file.push_back(0);
    const CQIRLogStringWChar target(file.data());
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t) {
        writers.emplace_back([&, t] {
            CQIRLogOutputTextWindows output;
            for (int n = 0; n < lines; ++n) {
                if (!output.write(record(tag, t, n), target) && failures.fetch_add(1) == 0) {
                    std::fprintf(stderr, "%s: a line could not be appended\n", tag.c_str());
                }
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    return failures == 0 ? 0 : 1;
}

int verify(const char* path, const std::string& tags, int threads, int lines) {
    const stress::LogText log = stress::readLog(std::filesystem::u8path(path));
    if (log.lines.empty() && !log.problem.empty()) {
        std::fprintf(stderr, "%s\n", log.problem.c_str());
        return 1;
    }

    std::map<std::string, int> seen;
    std::vector<std::string> tagList;
    for (size_t begin = 0; begin <= tags.size();) {
        size_t end = tags.find(',', begin);
        if (end == std::string::npos) {
            end = tags.size();
        }
        tagList.push_back(tags.substr(begin, end - begin));
        begin = end + 1;
    }
    for (const auto& tag : tagList) {
        for (int t = 0; t < threads; ++t) {
            for (int n = 0; n < lines; ++n) {
                seen[lineText(tag, t, n)] = 0;
            }
        }
    }

    int unexpected = 0;
    for (const std::string& text : log.lines) {
        const auto line = seen.find(text);
        if (line != seen.end()) {
            ++line->second;
        } else if (++unexpected <= 5) {
            std::fprintf(stderr, "unexpected line: %s\n", text.c_str());
        }
    }

    int missing = 0;
    int repeated = 0;
    for (const auto& [line, count] : seen) {
        missing += count == 0 ? 1 : 0;
        repeated += count > 1 ? 1 : 0;
    }
    const bool ok = missing == 0 && repeated == 0 && unexpected == 0 && log.problem.empty();
    std::fprintf(ok ? stdout : stderr,
                 "%zu lines expected: %d missing, %d repeated, %d unexpected%s%s\n", seen.size(),
                 missing, repeated, unexpected, log.problem.empty() ? "" : "; ",
                 log.problem.c_str());
    return ok ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: qir_append_stress PATH TAG THREADS LINES\n"
                 "       qir_append_stress verify PATH TAGS THREADS LINES\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 0;
    int lines = 0;
    if (argc == 6 && std::string(argv[1]) == "verify") {
        if (!stress::parseCount(argv[4], threads) || !stress::parseCount(argv[5], lines)) {
            return usage();
        }
        return verify(argv[2], argv[3], threads, lines);
    }
    if (argc != 5 || !stress::parseCount(argv[3], threads) || !stress::parseCount(argv[4], lines)) {
        return usage();
    }
    return write(argv[1], argv[2], threads, lines);
}
