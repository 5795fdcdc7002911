// The three exports' cases as one table, run in process against the scripted vendor
// (export_test.cpp) and through the library as a host loads it (boundary_test.cpp). A row
// gives the call and the vendor's script, then what must come out: the answer, the caller's
// memory afterwards, the vendor's calls in order with the failure reports among them, and the
// log lines the reports write.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <sstream>

#include "VelnorApi.h"
#include "log_capture.h"
#include "qir_sys/error.h"

namespace exports {

struct Row {
    const char* name;
    const char* call;    // "get", "get null", "set N", "key N" (N the capacity), "key null"
    const char* script;  // fake::parse
    int32_t result;
    const char* calls;   // fake::trace, with R for each report
    const char* memory;  // "-" untouched; get: the byte; key: the text, zeros up to the capacity
    // Each line "SOURCE-LINE WHO POINT VALUES...", '|' between lines; WHO is the last-error
    // value the record carries: V the one the failing vendor call left, - the caller's.
    const char* log;
};

inline void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

// The caller's last-error value before a call, and the one a failing vendor call leaves.
constexpr uint32_t kErrorBefore = 0x2ee7;
constexpr uint32_t kErrorOfVendor = 0x51f;

// A worked row: {"GetFindThenRelease", "get", "F=0x80004005 a!", 0, "C F R a", "-",
// "154 V find 80004005"} calls GetTouchpadLaunchState with a byte to fill, against a vendor
// whose FindDevice answers 0x80004005 and whose API object throws from Release: the export
// answers 0 and leaves the byte; the vendor sees SynCreateAPI, FindDevice, the report and the
// Release; the report logs line 154 with the vendor's last error, "could not find device,
// hResult = 0x80004005".
// clang-format off
inline const Row kRows[] = {
    {"GetOff", "get", "", 1, "C F D1 G S d a", "0", ""},
    {"GetOnFromNonzero", "get", "state=-2 gesture=-9 handle=77", 1, "C F D77 G S d a", "1", ""},
    {"GetNull", "get null", "", 0, "R", "-", "166 - null pbLaunchState"},
    {"GetCreateApi", "get", "C=0x80004005", 0, "C R", "-", "161 V api 80004005"},
    {"GetCreateApiObject", "get", "C=1 obj=1", 0, "C R", "-", "161 V api 1"},
    {"GetCreateApiNoObject", "get", "nullApi=1", 0, "C R", "-", "161 - api 0"},
    {"GetFindThenRelease", "get", "F=0x80004005 a!", 0, "C F R a", "-", "154 V find 80004005"},
    {"GetFindDeviceNoHandle", "get", "handle=-1", 0, "C F R a", "-", "154 - find 0"},
    {"GetCreateDeviceObject", "get", "D=0x7f obj=1", 0, "C F D1 R a", "-", "149 V device 7f"},
    {"GetCreateDeviceNoObject", "get", "nullDevice=1", 0, "C F D1 R a", "-", "149 - device 0"},
    {"GetGestureQuery", "get", "G=0x80004005", 0, "C F D1 G R d a", "-", "142 V gesture 80004005"},
    {"GetNotSupported", "get", "gesture=0", 0, "C F D1 G R d a", "-", "137 - unsupported 0"},
    {"GetStateQueryReport", "get", "S=1 R!", 0, "C F D1 G S R d a", "-", "132 V state 1"},
    {"GetThrowsInFindDevice", "get", "F!", 0, "C F a", "-", ""},
    {"GetThrowsInGestureAndReleases", "get", "G! d! a!", 0, "C F D1 G d a", "-", ""},
    {"GetThrowsInReleaseDevice", "get", "d!", 1, "C F D1 G S d a", "0", ""},
    {"SetOn", "set 2", "", 1, "C F D1 G W1 P d a", "-", ""},
    {"SetOff", "set 0", "", 1, "C F D1 G W0 P d a", "-", ""},
    {"SetCreateApi", "set 1", "C=0x80004005", 0, "C R", "-", "248 V api 80004005"},
    {"SetFindDevice", "set 1", "F=3", 0, "C F R a", "-", "241 V find 3"},
    {"SetFindDeviceKeepsHandle", "set 1", "keep=1", 0, "C F R a", "-", "241 - find 0"},
    {"SetCreateDevice", "set 1", "D=0x80004005", 0, "C F D1 R a", "-", "236 V device 80004005"},
    {"SetGestureQuery", "set 1", "G=2", 0, "C F D1 G R d a", "-", "229 V gesture 2"},
    {"SetNotSupported", "set 1", "gesture=0", 0, "C F D1 G R d a", "-", "224 - unsupported 0"},
    {"SetStateWrite", "set 0", "W=0x80004005", 0, "C F D1 G W0 R d a", "-", "219 V write 80004005"},
    {"SetPersist", "set 1", "P=9", 0, "C F D1 G W1 P R d a", "-", "214 V persist 9"},
    {"SetThrowsInCreateApi", "set 1", "C!", 0, "C R", "-", "253 V exception"},
    {"SetThrowsReport", "set 1", "W! R!", 0, "C F D1 G W1 R d a", "-", "253 V exception"},
    {"SetThrowsInAll", "set 1", "P! d! a!", 0, "C F D1 G W1 P R d a", "-", "253 V exception"},
    {"SetThrowsInReleaseDevice", "set 1", "d!", 1, "C F D1 G W1 P d R a", "-", "253 V exception"},
    {"SetThrowsInReleaseApi", "set 1", "a!", 1, "C F D1 G W1 P d a R", "-", "253 V exception"},
    {"SetNotSupportedReleaseThrows", "set 1", "gesture=0 d!", 0, "C F D1 G R d R a", "-",
     "224 - unsupported 0|253 V exception"},
    {"KeyFits", "key 64", "key=HKLM\\Pad\\0001 size=30", 1, "C F D1 K d a", "HKLM\\Pad\\0001", ""},
    {"KeyAndZeroFillIt", "key 9", "key=HKLM\\Pad size=5", 1, "C F D1 K d a", "HKLM\\Pad", ""},
    {"KeyNull", "key null", "", 0, "R", "-", "81 - null strRegistryKey"},
    {"KeyCreateApi", "key 64", "C=0x80004005", 0, "C R", "-", "76 V api 80004005"},
    {"KeyFindDevice", "key 64", "F=0x80004005", 0, "C F R a", "-", "68 V find 80004005"},
    {"KeyCreateDevice", "key 64", "D=2", 0, "C F D1 R a", "-", "62 V device 2"},
    {"KeyQuery", "key 64", "K=0x80070057", 0, "C F D1 K R d a", "-", "54 V key 80070057"},
    {"KeySizeZero", "key 64", "key=HKLM size=0", 0, "C F D1 K R d a", "-", "37 - empty"},
    {"KeyEmptyText", "key 64", "key= size=5", 0, "C F D1 K R d a", "-", "37 - empty"},
    {"KeyWithoutZeroByte", "key 300", "fill size=8", 0, "C F D1 K R d a", "-", "37 - empty"},
    {"KeyCapacityIsSize", "key 32", "key=a size=32", 0, "C F D1 K R d a", "-", "42 - small 20 20"},
    {"KeyCapacityNegative", "key -1", "key=abc", 0, "C F D1 K R d a", "-", "42 - small 4 ffffffff"},
    {"KeyOverSize", "key 8", "key=HKLM\\Pad size=5", 0, "C F D1 K R d a", "-", "42 - small 5 8"},
    {"KeyThrowsInQuery", "key 64", "key=K K!", 0, "C F D1 K d a", "-", ""},
    {"KeyThrowsInReleaseApi", "key 64", "key=K a!", 1, "C F D1 K d a", "K", ""},
};
// clang-format on

// The lines a row expects: each failure point's wording with its values in place of the '%'.
inline std::vector<std::string> expectedLines(const Row& row) {
    static const std::map<std::string, std::string> kWording = {
        {"api", "could not create API object, hResult = 0x%"},
        {"find", "could not find device, hResult = 0x%"},
        {"device", "could not create device object, hResult = 0x%"},
        {"gesture", "could not get property for SP_HasTwoFingerDoubleTap, hResult = 0x%"},
        {"unsupported", "2FDT is not supported on this system, hResult = 0x%"},
        {"state", "2FDT is supported but could not query the state, hResult = 0x%"},
        {"write", "could not set property for SP_TwoFingerDoubleTapState, hResult = 0x%"},
        {"persist", "pSynAPI->PersistState() failed, hResult = 0x%"},
        {"exception", "unhandled exception"},
        {"null", "% is null"},
        {"key", "could not get string property for the registry key (0x10000603), hResult = 0x%"},
        {"empty", "Source buffer lSize is <= 0, nothing to copy"},
        {"small",
         "Destination buffer strRegistryKey is too small, source lSize = 0x%, "
         "destination iCapacity = 0x%"}};
    const char* const names[] = {"GetTouchpadLaunchState", "SetTouchpadLaunchState",
                                 "GetTouchpadRegistryKey"};
    const std::string name = names[std::string("gsk").find(row.call[0])];
    std::vector<std::string> lines;
    std::istringstream log(row.log);
    for (std::string text; std::getline(log, text, '|');) {
        std::istringstream words(text);
        uint32_t line = 0;
        std::string who, message;
        words >> line >> who >> message;
        message = kWording.at(message);
        for (std::string value; words >> value;) {
            message.replace(message.find('%'), 1, value);
        }
        const uint32_t code = who == "V" ? kErrorOfVendor : kErrorBefore;
        lines.push_back(
            LogCapture::expectedLine("ERROR", "::" + name, message, name, code, "VelnorApi", line));
    }
    return lines;
}

// The three exports as the rows call them.
struct Exports {
    std::function<int32_t(uint8_t*)> get;
    std::function<int32_t(uint8_t)> set;
    std::function<int32_t(VelnorUtf16*, int32_t)> key;
};

// Runs the row's call on fresh memory with the caller's last-error value set. Answers the
// result and the memory, first as the row expects them and then as they came out: the byte, or
// the key buffer as a character per unit, '.' for a zero and '~' for a unit never written.
inline std::vector<std::pair<int32_t, std::string>> run(const Exports& exports, const Row& row) {
    const std::string argument = std::strlen(row.call) > 4 ? row.call + 4 : "";
    const bool null = argument == "null";
    const int32_t capacity = null ? 8 : std::atoi(argument.c_str());
    uint8_t byte = 0xA5;
    std::vector<VelnorUtf16> units(320, 0xBEEF);
    qir::sys::setLastError(kErrorBefore);
    const int32_t result = row.call[0] == 's' ? exports.set(uint8_t(capacity))
                           : row.call[0] == 'g'
                               ? exports.get(null ? nullptr : &byte)
                               : exports.key(null ? nullptr : units.data(), capacity);
    std::string text = row.memory, memory = byte == 0xA5 ? "-" : std::to_string(byte);
    if (row.call[0] == 'k') {
        const size_t written = text == "-" ? 0 : size_t(capacity);
        text = text.substr(0, written) +
               std::string(written - std::min(written, text.size()), '.') +
               std::string(units.size() - written, '~');
        memory.clear();
        for (const VelnorUtf16 unit : units) {
            memory += unit == 0xBEEF ? '~' : unit == 0 ? '.' : unit < 0x80 ? char(unit) : '?';
        }
    }
    return {{row.result, text}, {result, memory}};
}

}  // namespace exports
