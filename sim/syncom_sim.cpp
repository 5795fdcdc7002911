// A simulated touchpad behind the vendor's automation interface: one touchpad (handle 1)
// with the two-finger double tap gesture, off at first, and a fixed registry key. Property
// writes change the live device for the life of the process; PersistState saves the state
// to a state file that the next process reads. The same file injects faults:
//
//   state=on|off                    the persisted launch state
//   gesture=yes|no                  whether the touchpad has the gesture
//   key=TEXT                        the registry-key property
//   key_size=N                      the size the device reports for it (default: bytes + 1)
//   fail.OPERATION=CODE             OPERATION answers CODE (decimal or 0x hex); OPERATION is
//                                   SynCreateAPI, FindDevice, CreateDevice, GetProperty,
//                                   GetStringProperty, SetProperty or PersistState
//   no_device=1                     FindDevice succeeds but finds no touchpad (handle -1)
//   null_api=1, null_device=1       the factory or CreateDevice succeeds without an object
//
// The file is $SYNCOM_SIM_STATE, else velnor-syncom-sim.state in the user's local
// application data (Windows), state (XDG) or temporary directory.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "syn_com.h"

namespace {

constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002);
constexpr int32_t kNotImplemented = static_cast<int32_t>(0x80004001);
constexpr int32_t kInvalidArgument = static_cast<int32_t>(0x80070057);
constexpr int32_t kPersistFailed = static_cast<int32_t>(0x80004005);
constexpr int32_t kTouchpadHandle = 1;
constexpr const char* kDefaultKey =
    "SYSTEM\\CurrentControlSet\\Enum\\ACPI\\VLN0100\\4&2f1a8c3&0\\Device Parameters";

std::string statePath() {
    namespace fs = std::filesystem;
    if (const char* path = std::getenv("SYNCOM_SIM_STATE"); path != nullptr && *path != '\0') {
        return path;
    }
    const char* const fileName = "velnor-syncom-sim.state";
    for (const char* variable : {"LOCALAPPDATA", "XDG_STATE_HOME"}) {
        if (const char* dir = std::getenv(variable); dir != nullptr && *dir != '\0') {
            return (fs::path(dir) / fileName).string();
        }
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        std::error_code error;
        const fs::path dir = fs::path(home) / ".local" / "state";
        fs::create_directories(dir, error);
        if (!error) {
            return (dir / fileName).string();
        }
    }
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    return ((error ? fs::path(".") : temp) / fileName).string();
}

// The state file as ordered name=value lines; unknown lines are kept as they are.
struct StateFile {
    std::vector<std::string> lines;

    static StateFile read(const std::string& path) {
        StateFile file;
        std::ifstream in(path, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            file.lines.push_back(line);
        }
        return file;
    }

    // The settings; a line that is neither one of them, blank nor a '#' comment is named on
    // standard error, since a test that misspells a fault would otherwise pass for the wrong
    // reason.
    std::map<std::string, std::string> values(const std::string& path) const {
        static const char* const kNames[] = {"state",
                                             "gesture",
                                             "key",
                                             "key_size",
                                             "no_device",
                                             "null_api",
                                             "null_device",
                                             "fail.SynCreateAPI",
                                             "fail.FindDevice",
                                             "fail.CreateDevice",
                                             "fail.GetProperty",
                                             "fail.GetStringProperty",
                                             "fail.SetProperty",
                                             "fail.PersistState"};
        std::map<std::string, std::string> result;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const auto equals = line.find('=');
            if (line.empty() || line[0] == '#') {
                continue;
            }
            const std::string name = line.substr(0, equals);
            bool known = false;
            for (const char* candidate : kNames) {
                known = known || name == candidate;
            }
            if (equals == std::string::npos || !known) {
                std::fprintf(
                    stderr, "syncom-sim: state file %s line %zu: '%s' %s\n", path.c_str(), i + 1,
                    line.c_str(),
                    equals == std::string::npos ? "is not NAME=VALUE" : "sets no known name");
                continue;
            }
            result[name] = line.substr(equals + 1);
        }
        return result;
    }

    void set(const std::string& name, const std::string& value) {
        for (std::string& line : lines) {
            if (line.compare(0, name.size() + 1, name + "=") == 0) {
                line = name + "=" + value;
                return;
            }
        }
        lines.push_back(name + "=" + value);
    }

    bool write(const std::string& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) {
            out << line << '\n';
        }
        out.flush();
        return static_cast<bool>(out);
    }
};

int32_t parseCode(const std::string& text) {
    return static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 0));
}

// The live touchpad of this process, as the state file described it at first use.
struct Device {
    explicit Device(std::string file)
        : path(std::move(file)), settings(StateFile::read(path).values(path)) {
        state = setting("state") == "on" ? 1 : 0;
        hasGesture = setting("gesture") == "no" ? 0 : 1;
        if (settings.count("key") != 0) {
            key = settings["key"];
        }
        keySize = settings.count("key_size") != 0 ? parseCode(settings["key_size"])
                                                  : static_cast<int32_t>(key.size() + 1);
    }

    std::string setting(const char* name) const {
        const auto it = settings.find(name);
        return it == settings.end() ? std::string() : it->second;
    }
    int32_t fault(const char* operation) const {
        return parseCode(setting((std::string("fail.") + operation).c_str()));
    }
    bool flag(const char* name) const { return setting(name) == "1"; }

    const std::string path;
    std::map<std::string, std::string> settings;
    std::atomic<int32_t> state{0};
    int32_t hasGesture = 1;
    std::string key = kDefaultKey;
    int32_t keySize = 0;
};

Device& device() {
    static Device live(statePath());
    return live;
}

// Made when the library is loaded: made on first use, a fork while another thread made it would
// leave the child waiting for that thread for ever.
[[maybe_unused]] Device& g_deviceAtLoad = device();

template <class Interface>
class RefCounted : public Interface {
  public:
    int32_t SYN_CALL QueryInterface(const void*, void** out) override {
        if (out != nullptr) {
            *out = nullptr;
        }
        return kNoInterface;
    }
    uint32_t SYN_CALL AddRef() override { return ++m_refs; }
    uint32_t SYN_CALL Release() override {
        const uint32_t left = --m_refs;
        if (left == 0) {
            delete this;
        }
        return left;
    }

  protected:
    virtual ~RefCounted() = default;

  private:
    std::atomic<uint32_t> m_refs{1};
};

class SimDevice final : public RefCounted<ISynDevice> {
  public:
    int32_t SYN_CALL GetProperty(int32_t lId, int32_t* plValue) override {
        Device& d = device();
        if (const int32_t code = d.fault("GetProperty")) {
            return code;
        }
        if (plValue == nullptr) {
            return kInvalidArgument;
        }
        switch (lId) {
            case syn::kPropertyHasTwoFingerDoubleTap:
                *plValue = d.hasGesture;
                return 0;
            case syn::kPropertyTwoFingerDoubleTapState:
                *plValue = d.state;
                return 0;
            default:
                return kInvalidArgument;
        }
    }
    int32_t SYN_CALL Reserved4() override { return kNotImplemented; }
    int32_t SYN_CALL GetStringProperty(int32_t lId, unsigned char* pBuffer,
                                       int32_t* plSize) override {
        Device& d = device();
        if (const int32_t code = d.fault("GetStringProperty")) {
            return code;
        }
        if (lId != syn::kPropertyRegistryKey || pBuffer == nullptr || plSize == nullptr ||
            *plSize <= 0) {
            return kInvalidArgument;
        }
        const size_t room = static_cast<size_t>(*plSize);
        const size_t bytes = d.key.size() + 1 < room ? d.key.size() + 1 : room;
        std::memcpy(pBuffer, d.key.c_str(), bytes);
        *plSize = d.keySize;
        return 0;
    }
    int32_t SYN_CALL SetProperty(int32_t lId, int32_t lValue) override {
        Device& d = device();
        if (const int32_t code = d.fault("SetProperty")) {
            return code;
        }
        if (lId != syn::kPropertyTwoFingerDoubleTapState) {
            return kInvalidArgument;
        }
        d.state = lValue != 0 ? 1 : 0;
        return 0;
    }
};

class SimApi final : public RefCounted<ISynAPI> {
  public:
    int32_t SYN_CALL Reserved3() override { return kNotImplemented; }
    int32_t SYN_CALL FindDevice(int32_t, int32_t, int32_t* plHandle) override {
        Device& d = device();
        if (const int32_t code = d.fault("FindDevice")) {
            return code;
        }
        if (plHandle == nullptr) {
            return kInvalidArgument;
        }
        if (!d.flag("no_device")) {
            *plHandle = kTouchpadHandle;
        }
        return 0;
    }
    int32_t SYN_CALL CreateDevice(int32_t lHandle, ISynDevice** ppDevice) override {
        Device& d = device();
        if (const int32_t code = d.fault("CreateDevice")) {
            return code;
        }
        if (ppDevice == nullptr || lHandle != kTouchpadHandle) {
            return kInvalidArgument;
        }
        *ppDevice = d.flag("null_device") ? nullptr : new SimDevice();
        return 0;
    }
    int32_t SYN_CALL Reserved6() override { return kNotImplemented; }
    int32_t SYN_CALL Reserved7() override { return kNotImplemented; }
    int32_t SYN_CALL Reserved8() override { return kNotImplemented; }
    int32_t SYN_CALL Reserved9() override { return kNotImplemented; }
    int32_t SYN_CALL Reserved10() override { return kNotImplemented; }
    int32_t SYN_CALL PersistState(int32_t) override {
        Device& d = device();
        if (const int32_t code = d.fault("PersistState")) {
            return code;
        }
        // Re-read so that faults written meanwhile by another process are kept.
        StateFile file = StateFile::read(d.path);
        file.set("state", d.state != 0 ? "on" : "off");
        return file.write(d.path) ? 0 : kPersistFailed;
    }
};

}  // namespace

extern "C" QIR_SYS_EXPORT int32_t SynCreateAPI(ISynAPI** ppApi) {
    if (ppApi == nullptr) {
        return kInvalidArgument;
    }
    *ppApi = nullptr;
    try {
        Device& d = device();
        if (const int32_t code = d.fault("SynCreateAPI")) {
            return code;
        }
        if (!d.flag("null_api")) {
            *ppApi = new SimApi();
        }
        return 0;
    } catch (const std::exception&) {
        return static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY
    }
}
