#include "log_config.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "qir_log_config.h"
#include "qir_log_data.h"
#include "qir_log_output.h"
#include "qir_logger.h"
#include "qir_sys/error.h"
#include "qir_sys/file.h"
#include "qir_sys/process.h"
#include "qir_sys/registry.h"
#include "text.h"
#include "vendor_library.h"

namespace {

// As the configuration reads them: subkey names and Target (with its terminator) in UTF-16 units.
constexpr uint32_t kSubkeyNameUnits = CQIRLogConfigWindows::kSubkeyNameUnits;
constexpr uint32_t kTargetUnits = CQIRLogConfigWindows::kTargetBytes / 2;
constexpr uint32_t kListBytes = CQIRLogConfigWindows::kListBytes;
// A thread id of ten digits, for the longest per-thread file name; no thread has it (Windows'
// are multiples of 4, Linux's below 2^22).
constexpr uint32_t kLongestThreadId = 2147483647u;

const char* const kConfigUsage =
    "usage: velnorctl log config [--app NAME]\n"
    "shows where the logging configuration comes from (and the lines of a registry file that\n"
    "are skipped), where the vendor library would be loaded from, which key the logger of\n"
    "program NAME (default: velnorctl's own) would choose, its outputs, and in words why an\n"
    "output will not write; exit status 0 when at least one output will write, 1 when none\n"
    "will\n";

std::string text(const CQIRLogStringWChar& s) {
    return s.getBuffer() == nullptr ? std::string() : utf16ToUtf8(s.getBuffer(), s.length());
}

std::string typeName(uint32_t type) {
    switch (type) {
        case qir::sys::kRegistryString:
            return "REG_SZ";
        case qir::sys::kRegistryExpandString:
            return "REG_EXPAND_SZ";
        case qir::sys::kRegistryBinary:
            return "REG_BINARY";
        case qir::sys::kRegistryDword:
            return "REG_DWORD";
        case qir::sys::kRegistryMultiString:
            return "REG_MULTI_SZ";
        case qir::sys::kRegistryQword:
            return "REG_QWORD";
        default:
            return "of type " + std::to_string(type);
    }
}

std::string severities(uint32_t mask) {
    std::string names;
    for (uint32_t bit = 0; bit < 11; ++bit) {
        if ((mask & (1u << bit)) != 0) {
            names +=
                (names.empty() ? "" : ", ") + text(CQIRLogStringWChar(qirSeverityName(1u << bit)));
        }
    }
    return names.empty() ? "none (only records of severity 0)" : names;
}

// A filter list as the logger matches it: one text, in which a name passes wherever it occurs.
std::string listText(const CQIRLogStringWChar& list, const char* whenEmpty) {
    return list.length() == 0 ? whenEmpty
                              : text(list) + " (matched anywhere in this text, case-sensitive)";
}

// One output's subkey as the registry holds it, beside what the configuration made of it: why it
// will not write (`problems`) and what else is amiss (`warnings`).
class Diagnosis {
  public:
    Diagnosis(const qir::sys::RegistryKey& subkey, const CQIRLogConfigEntry& entry,
              bool readApplications, const CQIRLogStringWChar& application)
        : m_subkey(subkey) {
        if (!entry.m_bEnabled) {
            problem("disabled: ", "Enabled", 0, "it has no Enabled value", "Enabled is 0");
            return;
        }
        if (entry.m_ulType != CQIRLogOutputTextWindows::kType) {
            problem("", "Type", entry.m_ulType, "it has no Type value (1: a text file)",
                    "Type " + std::to_string(entry.m_ulType) +
                        " is no output type: 1 (a text file) is the only one");
        }
        if (entry.m_ulDetail == 0) {
            problem("", "Detail", 0, "it has no Detail value: no severity is written",
                    "Detail is 0: no severity is written");
        }
        checkTarget(entry);
        checkFilters(entry, application);
        for (const char* name : {"Enabled", "SeparateThreads", "Type", "Detail"}) {
            typeWarning(name, qir::sys::kRegistryDword);
        }
        for (const char* name :
             {"AllowObjects", "ExcludeObjects", "AllowApplications", "ExcludeApplications"}) {
            if (readApplications || std::strstr(name, "Objects") != nullptr) {
                typeWarning(name, qir::sys::kRegistryMultiString);
                lengthWarning(name);
            }
        }
    }

    const std::vector<std::string>& problems() const { return m_problems; }
    const std::vector<std::string>& warnings() const { return m_warnings; }

  private:
    // The value's type and size: false when it is missing or unreadable.
    bool facts(const char* name, uint32_t& type, uint32_t& size) const {
        return m_subkey &&
               qir::sys::registryValueType(m_subkey, CQIRLogStringWChar(name).getBuffer(), type,
                                           size) == qir::sys::kErrorSuccess;
    }

    // " is REG_SZ, where the logger reads a REG_DWORD", or empty when the type is as expected.
    std::string wrongType(const char* name, uint32_t expected) {
        uint32_t type = 0;
        uint32_t size = 0;
        if (!facts(name, type, size) || type == expected ||
            (expected == qir::sys::kRegistryString && type == qir::sys::kRegistryExpandString)) {
            return {};
        }
        m_reported.push_back(name);
        return std::string(name) + " is " + typeName(type) + ", where the logger reads a " +
               typeName(expected);
    }

    // A number the output cannot use, read as `read`: missing, of the wrong type, or as read.
    void problem(const std::string& prefix, const char* name, uint32_t read,
                 const std::string& missing, const std::string& asRead) {
        uint32_t type = 0;
        uint32_t size = 0;
        const std::string wrong = wrongType(name, qir::sys::kRegistryDword);
        m_problems.push_back(prefix + (!facts(name, type, size) ? missing
                                       : wrong.empty()
                                           ? asRead
                                           : wrong + ", and takes it as " + std::to_string(read)));
    }

    void typeWarning(const char* name, uint32_t expected) {
        for (const std::string& reported : m_reported) {
            if (reported == name) {
                return;
            }
        }
        const std::string wrong = wrongType(name, expected);
        if (!wrong.empty()) {
            m_warnings.push_back(wrong + ": its bytes are taken as they are");
        }
    }

    // A list longer than the logger reads is taken as empty: an allow list then lets everything
    // through, an exclude list nothing out.
    void lengthWarning(const char* name) {
        uint32_t type = 0;
        uint32_t size = 0;
        if (facts(name, type, size) && size > kListBytes) {
            m_warnings.push_back(std::string(name) + " is " + std::to_string(size) +
                                 " bytes long, more than the " + std::to_string(kListBytes) +
                                 " bytes the logger reads: it is ignored, as if it were empty");
        }
    }

    // The records of the exports' failures name the program and no class.
    void checkFilters(const CQIRLogConfigEntry& entry, const CQIRLogStringWChar& application) {
        const std::string name = text(application);
        switch (qirLogFilterThatDrops(entry, application, CQIRLogStringWChar())) {
            case QIRLogFilter::AllowApplications:
                m_problems.push_back("AllowApplications (" + text(entry.m_strAllowApplications) +
                                     ") does not hold " + name);
                break;
            case QIRLogFilter::ExcludeApplications:
                m_problems.push_back("ExcludeApplications (" +
                                     text(entry.m_strExcludeApplications) + ") holds " + name);
                break;
            case QIRLogFilter::AllowObjects:
                m_problems.push_back("AllowObjects (" + text(entry.m_strAllowObjects) +
                                     ") lets no failure of the exports through: they name no "
                                     "class");
                break;
            case QIRLogFilter::ExcludeObjects:
            case QIRLogFilter::None:
                break;
        }
    }

    void checkTarget(const CQIRLogConfigEntry& entry) {
        uint32_t type = 0;
        uint32_t size = 0;
        if (entry.m_strTarget.length() == 0) {
            const bool present = facts("Target", type, size);
            const std::string wrong = wrongType("Target", qir::sys::kRegistryString);
            m_problems.push_back(
                !present ? "it has no Target value"
                : size > kTargetUnits * 2
                    ? "Target is " + std::to_string(size / 2 - 1) +
                          " characters long: the logger ignores a Target longer than " +
                          std::to_string(kTargetUnits - 1)
                : size == kTargetUnits * 2
                    ? "Target is " + std::to_string(kTargetUnits) +
                          " characters without a terminator: the logger ignores it, since "
                          "cut to " +
                          std::to_string(kTargetUnits - 1) + " it would name another file"
                : !wrong.empty() ? wrong
                                 : "Target is empty");
            return;
        }
        typeWarning("Target", qir::sys::kRegistryString);
        // Thread 0 never runs: its file stands for every thread's, in the same folder.
        const CQIRLogStringWChar target = entry.m_bSeparateThreads
                                              ? qirPerThreadFileName(entry.m_strTarget, 0)
                                              : entry.m_strTarget;
        const qir::sys::AppendCheck check = qir::sys::checkAppend(target.getBuffer());
        if (check.error != qir::sys::kErrorSuccess) {
            m_problems.push_back(check.reason);
        }
        // The longest name a file of the output is made under: a thread's with the longest id
        // (temporary names are shorter than any file system's limit).
        const CQIRLogStringWChar longest =
            entry.m_bSeparateThreads ? qirPerThreadFileName(entry.m_strTarget, kLongestThreadId)
                                     : entry.m_strTarget;
        const std::string tooLong = qir::sys::nameLengthProblem(longest.getBuffer());
        if (!tooLong.empty()) {
            m_problems.push_back(text(longest) + " cannot be made: " + tooLong);
        }
        if (!check.folderOpenToAll.empty()) {
            m_warnings.push_back(
                "accounts other than its owner and group may write in the folder " +
                check.folderOpenToAll +
                ": any of them can create or replace the log file, or put a "
                "link in its place, and read or redirect every program's lines");
        }
    }

    const qir::sys::RegistryKey& m_subkey;
    std::vector<std::string> m_problems;
    std::vector<std::string> m_warnings;
    std::vector<std::string> m_reported;  // the values whose wrong type is told already
};

void printDetails(const CQIRLogConfigEntry& e) {
    std::printf("  detail: 0x%08x: %s\n", e.m_ulDetail, severities(e.m_ulDetail).c_str());
    std::printf(
        "  type: %u%s\n", e.m_ulType,
        e.m_ulType == CQIRLogOutputTextWindows::kType ? " (text file)" : " (no such output)");
    std::printf("  target: %s\n",
                e.m_strTarget.length() == 0 ? "(none)" : text(e.m_strTarget).c_str());
    if (e.m_bSeparateThreads) {
        std::printf(
            "  one file per thread: %s\n",
            text(qirPerThreadFileName(e.m_strTarget, CQIRLogStringWChar("<thread id>"))).c_str());
    }
    std::printf("  allow objects: %s\n", listText(e.m_strAllowObjects, "(all)").c_str());
    std::printf("  exclude objects: %s\n", listText(e.m_strExcludeObjects, "(none)").c_str());
    std::printf("  allow applications: %s\n", listText(e.m_strAllowApplications, "(all)").c_str());
    std::printf("  exclude applications: %s\n",
                listText(e.m_strExcludeApplications, "(none)").c_str());
}

int config(const std::string& application) {
    printSources();
    std::printf("application: %s\n", application.c_str());
    return printOutputs(application, true) ? kExitOk : kExitFailed;
}

}  // namespace

void printSources() {
    std::printf("configuration: %s\n", qir::sys::registrySource().c_str());
    for (const std::string& line : qir::sys::registryWarnings()) {
        std::printf("warning: %s\n", line.c_str());
    }
    const qir::sys::PluginSource vendor = qir::sys::pluginSource(velnor::kSynComLibrary);
    std::printf("vendor library: %s (%s)\n", vendor.path.empty() ? "none" : vendor.path.c_str(),
                vendor.reason.c_str());
}

bool printOutputs(const std::string& application, bool details) {
    // Names on the command line and from the file system are UTF-8, whatever the C runtime's
    // locale is.
    const std::vector<VelnorUtf16> units = utf8ToUtf16(application);
    const CQIRLogStringWChar name(reinterpret_cast<const qir_wchar_t*>(units.data()));
    CQIRLogConfigWindows configuration(name);
    configuration.load();
    const std::string key = "HKEY_LOCAL_MACHINE\\" + text(configuration.getChosenKey());
    switch (configuration.getOutcome()) {
        case CQIRLogConfigWindows::Outcome::NoKey:
            std::printf(
                "logging: off: neither HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\%s nor "
                "HKEY_LOCAL_MACHINE\\Software\\Halvex\\Logs\\Default exists\n",
                application.c_str());
            return false;
        case CQIRLogConfigWindows::Outcome::KeyUnreadable:
            std::printf("logging: off: %s cannot be read: %s\n", key.c_str(),
                        qir::sys::errorText(configuration.getError()).c_str());
            return false;
        case CQIRLogConfigWindows::Outcome::NoSubkeys:
            std::printf("logging: off: %s has no subkeys, so no outputs\n", key.c_str());
            return false;
        case CQIRLogConfigWindows::Outcome::NoMemory:
        case CQIRLogConfigWindows::Outcome::NotLoaded:
            std::printf("logging: off: the configuration could not be read\n");
            return false;
        case CQIRLogConfigWindows::Outcome::Loaded:
            break;
    }
    std::printf("key: %s\n", key.c_str());
    // The subkeys again, in the order of the entries, for their names and their values' types.
    qir::sys::RegistryKey chosen;
    qir::sys::openRegistryKey(configuration.getChosenKey().getBuffer(), chosen);
    const bool readApplications =
        key.size() >= 8 && key.compare(key.size() - 8, 8, "\\Default") == 0;
    const CQIRLogConfigEntryList& entries = configuration.getEntries();
    std::vector<std::string> lines;
    uint32_t writing = 0;
    for (uint32_t i = 0; i < entries.getCount(); ++i) {
        qir_wchar_t subkeyName[kSubkeyNameUnits] = {};
        qir::sys::RegistryKey subkey;
        if (qir::sys::registrySubkeyName(chosen, i, subkeyName, kSubkeyNameUnits) ==
            qir::sys::kErrorSuccess) {
            qir::sys::openRegistrySubkey(chosen, subkeyName, subkey);
        }
        const CQIRLogConfigEntry& entry = entries.getEntries()[i];
        const Diagnosis diagnosis(subkey, entry, readApplications, name);
        const bool writes = diagnosis.problems().empty();
        writing += writes ? 1 : 0;
        std::string line =
            "output " + std::to_string(i) + " (" + text(CQIRLogStringWChar(subkeyName)) +
            "): " + (writes ? "writes to " + text(entry.m_strTarget) : "will not write: ");
        for (size_t k = 0; k < diagnosis.problems().size(); ++k) {
            line += (k == 0 ? "" : "; ") + diagnosis.problems()[k];
        }
        for (const std::string& warning : diagnosis.warnings()) {
            line += "\n  warning: " + warning;
        }
        lines.push_back(line);
    }
    const uint32_t count = entries.getCount();
    std::printf("logging: %s: %u of %u output%s will write\n", writing != 0 ? "on" : "off", writing,
                count, count == 1 ? "" : "s");
    for (uint32_t i = 0; i < count; ++i) {
        std::printf("%s\n", lines[i].c_str());
        if (details && entries.getEntries()[i].m_bEnabled) {
            printDetails(entries.getEntries()[i]);
        }
    }
    return writing != 0;
}

std::string ownProgramName() {
    const std::string path = qir::sys::executablePath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int logConfigCommand(int argc, char** argv) {
    if (wantsHelp(argc, argv, 3)) {
        std::fputs(kConfigUsage, stdout);
        return kExitOk;
    }
    if (argc == 3) {
        return config(ownProgramName());
    }
    if (argc == 5 && std::strcmp(argv[3], "--app") == 0 && argv[4][0] != '\0') {
        return config(argv[4]);
    }
    std::fprintf(stderr, "velnorctl: log config takes only --app NAME\n%s", kConfigUsage);
    return kExitUsage;
}
