// Log file paths judged by their text alone, before anything is opened: the names that Windows
// takes for devices and pipes, and the names too long for a file system. Stated once for every
// platform, so that the rules are tested everywhere; the Windows layer applies the device rules.
#include <cstring>
#include <string>

#include "qir_sys/file.h"

namespace qir::sys {

namespace {

using Text = std::basic_string<WideUnit>;

bool isSeparator(WideUnit c) {
    return c == '\\' || c == '/';
}

WideUnit upper(WideUnit c) {
    return c >= 'a' && c <= 'z' ? static_cast<WideUnit>(c - 'a' + 'A') : c;
}

// Whether `text` is the ASCII word `word`, in any case.
bool isWord(const Text& text, const char* word) {
    const size_t length = std::strlen(word);
    if (text.size() != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (upper(text[i]) != static_cast<WideUnit>(word[i])) {
            return false;
        }
    }
    return true;
}

bool isLetter(WideUnit c) {
    return upper(c) >= 'A' && upper(c) <= 'Z';
}

// The component that starts at `start`, up to the next separator.
Text componentAt(const Text& path, size_t start) {
    size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) {
        ++end;
    }
    return path.substr(start, end - start);
}

// "\\server\share\...": whether the share is a server's pipes or mailslots.
bool isPipeShare(const Text& path, size_t serverStart) {
    const Text server = componentAt(path, serverStart);
    const size_t shareStart = serverStart + server.size() + 1;
    if (server.empty() || shareStart > path.size()) {
        return false;
    }
    const Text share = componentAt(path, shareStart);
    return isWord(share, "PIPE") || isWord(share, "MAILSLOT");
}

// The device that the last component names, whatever its extension or stream and the blanks
// before them, in any folder: empty when it names none.
std::string reservedDevice(const Text& path) {
    size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1])) {
        --start;
    }
    if (start == 0 && path.size() >= 2 && path[1] == ':') {
        start = 2;  // "C:NUL": the drive's current folder
    }
    size_t end = start;
    while (end < path.size() && path[end] != '.' && path[end] != ':') {
        ++end;
    }
    while (end > start && path[end - 1] == ' ') {
        --end;
    }
    const Text base = path.substr(start, end - start);
    for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (isWord(base, name)) {
            return name;
        }
    }
    // COM0-COM9 and LPT0-LPT9, also with the superscript digits one to three.
    const WideUnit last = base.size() == 4 ? base[3] : 0;
    const bool digit = (last >= '0' && last <= '9') || last == 0xB9 || last == 0xB2 || last == 0xB3;
    const Text stem = base.substr(0, 3);
    if (digit && (isWord(stem, "COM") || isWord(stem, "LPT"))) {
        std::string name(stem.begin(), stem.end());
        for (char& c : name) {
            c = static_cast<char>(upper(static_cast<WideUnit>(c)));
        }
        return name + (last <= '9'    ? std::string(1, static_cast<char>(last))
                       : last == 0xB9 ? "\xC2\xB9"
                       : last == 0xB2 ? "\xC2\xB2"
                                      : "\xC2\xB3");
    }
    return {};
}

}  // namespace

std::string deviceNameProblem(const WideUnit* text) {
    if (text == nullptr) {
        return {};
    }
    const Text path(text);
    const bool twoSeparators = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    // "\\.\", "\\?\", "\??\" and their forward-slash forms reach every device and pipe.
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[3]) &&
        ((isSeparator(path[1]) && (path[2] == '.' || path[2] == '?')) ||
         (path[1] == '?' && path[2] == '?'))) {
        const bool verbatim = path.compare(0, 4, Text{'\\', '\\', '?', '\\'}) == 0;
        const bool drive =
            verbatim && path.size() >= 7 && isLetter(path[4]) && path[5] == ':' && path[6] == '\\';
        const bool server = verbatim && isWord(componentAt(path, 4), "UNC") && path.size() > 8;
        if (!drive && !server) {
            return "it is in the device namespace (\\\\.\\, \\\\?\\ other than a drive's or a "
                   "server's path, \\??\\, GLOBALROOT), where pipes and devices are opened";
        }
        if (server && isPipeShare(path, 8)) {
            return "it names the pipes or mailslots of a server, not a file";
        }
    } else if (twoSeparators && isPipeShare(path, 2)) {
        return "it names the pipes or mailslots of a server, not a file";
    }
    const std::string device = reservedDevice(path);
    if (!device.empty()) {
        return "its name is the device " + device +
               " on Windows (reserved in every folder, also with an extension)";
    }
    return {};
}

std::basic_string<WideUnit> longPathForm(const WideUnit* full) {
    const Text path(full == nullptr ? Text() : Text(full));
    if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
        return Text{'\\', '\\', '?', '\\'} + path;
    }
    if (path.size() > 2 && path[0] == '\\' && path[1] == '\\' && path[2] != '.' && path[2] != '?' &&
        !isSeparator(path[2])) {
        return Text{'\\', '\\', '?', '\\', 'U', 'N', 'C', '\\'} + path.substr(2);
    }
    return {};
}

std::string nameLengthProblem(const WideUnit* text) {
    const Text path(text == nullptr ? Text() : Text(text));
    size_t start = path.size();
    while (start > 0 && !isSeparator(path[start - 1])) {
        --start;
    }
    const size_t length = path.size() - start;
    if (length <= kLongestFileName) {
        return {};
    }
    return "its file name is " + std::to_string(length) + " characters long, and file systems " +
           "take at most " + std::to_string(kLongestFileName);
}

}  // namespace qir::sys
