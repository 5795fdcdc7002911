#include "fake_vendor.h"

#include <map>
#include <sstream>

namespace fake {

Script parse(const std::string& text) {
    Script s;
    std::map<std::string, int32_t*> fields = {
        {"nullApi", &s.nullApi},     {"nullDevice", &s.nullDevice}, {"keep", &s.handleUntouched},
        {"obj", &s.objectOnFailure}, {"handle", &s.handle},         {"gesture", &s.hasGesture},
        {"state", &s.state},         {"size", &s.keySize}};
    for (int32_t op = kCreateApi; op <= kReport; ++op) {
        fields[std::string(1, kLetters[op])] = &s.code[op];
        fields[kLetters[op] + std::string("!")] = &s.throws[op];
    }
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const std::string value = equals == std::string::npos ? "1" : word.substr(equals + 1);
        if (name == "key") {
            value.copy(reinterpret_cast<char*>(s.key), sizeof s.key - 1);
            s.keySize = s.keyBytes = static_cast<int32_t>(value.size() + 1);
        } else if (name == "fill") {
            std::memset(s.key, 'K', sizeof s.key);
            s.keyBytes = syn::kKeyBufferSize;
        } else {
            *fields.at(name) = static_cast<int32_t>(std::stoll(value, nullptr, 0));
        }
    }
    return s;
}

std::string trace(const std::vector<Call>& calls) {
    std::string text;
    for (const Call& call : calls) {
        const bool valued = call.op == kCreateDevice || call.op == kSetState;
        text += (text.empty() ? "" : " ") + std::string(1, kLetters[call.op]) +
                (valued ? std::to_string(call.value) : "");
    }
    return text;
}

}  // namespace fake
