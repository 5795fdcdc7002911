#include "fake_vendor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>

namespace fake {

Script parse(const std::string& text) {
    Script s;
    const std::pair<const char*, int32_t*> fields[] = {
        {"nullApi", &s.nullApi},     {"nullDevice", &s.nullDevice}, {"keep", &s.handleUntouched},
        {"obj", &s.objectOnFailure}, {"rthrow", &s.reportThrows},   {"handle", &s.handle},
        {"gesture", &s.hasGesture},  {"state", &s.state},           {"size", &s.keySize}};
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const std::string value = word.substr(equals + 1);
        const auto number = static_cast<int32_t>(std::strtoll(value.c_str(), nullptr, 0));
        const size_t op = std::string_view(kLetters).find(word[0]);
        const auto field = std::find_if(std::begin(fields), std::end(fields),
                                        [&](const auto& f) { return name == f.first; });
        if (word.size() == 2 && word[1] == '!' && op < size_t{kOpCount}) {
            s.throws[op] = true;
        } else if (name.size() == 1 && op < size_t{kOpCount}) {
            s.code[op] = number;
        } else if (name == "key" && value.size() < sizeof s.key) {
            std::memcpy(s.key, value.c_str(), value.size() + 1);
            s.keySize = s.keyBytes = static_cast<int32_t>(value.size() + 1);
        } else if (word == "fill") {
            std::memset(s.key, 'K', sizeof s.key);
            s.keyBytes = syn::kKeyBufferSize;
        } else if (field != std::end(fields) && equals != std::string::npos) {
            *field->second = number;
        } else {
            throw std::invalid_argument("not a script word: " + word);
        }
    }
    return s;
}

std::string trace(const std::vector<Call>& calls) {
    std::string text;
    for (const Call& call : calls) {
        text += (text.empty() ? "" : " ") + std::string(1, kLetters[call.op]);
        if (call.op == kCreateDevice || call.op == kSetState) {
            text += std::to_string(call.value);
        }
    }
    return text;
}

}  // namespace fake
