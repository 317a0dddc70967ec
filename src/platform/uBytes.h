#pragma once
// Binary data is a byte vector; text is a UTF-8 std::string. These convert between the two.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace egaiss {

using TBytes = std::vector<std::uint8_t>;

inline TBytes ToBytes(std::string_view text) {
    return TBytes(text.begin(), text.end());
}

inline std::string_view AsText(const TBytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace egaiss
