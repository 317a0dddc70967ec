#include "platform/uSockets.h"

namespace egaiss::platform {

std::string TIPv4Endpoint::Text() const {
    return IPv4Text(Address) + ":" + std::to_string(Port);
}

bool ParseIPv4(std::string_view text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return false;
            ++pos;
        }
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 4) {
            number = number * 10 + static_cast<std::uint32_t>(text[pos] - '0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || number > 255) return false;
        value = (value << 8) | number;
    }
    if (pos != text.size()) return false;
    address = value;
    return true;
}

bool IsHostNameText(std::string_view text) {
    if (!text.empty() && text.back() == '.') text.remove_suffix(1);  // fully qualified form
    if (text.empty() || text.size() > 253) return false;
    std::size_t label = 0;
    for (const char c : text) {
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        const bool allowed = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                             (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte >= 0x80;
        if (!allowed || ++label > 63) return false;
    }
    return label > 0;
}

std::string IPv4Text(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string TIoResult::Text() const {
    switch (Status) {
        case TIoStatus::ioOk:
            return "ok";
        case TIoStatus::ioTimeout:
            return "timed out";
        case TIoStatus::ioRefused:
            return "connection refused";
        case TIoStatus::ioEndOfStream:
            return "connection closed by peer";
        case TIoStatus::ioClosed:
            return "socket closed";
        case TIoStatus::ioError:
            break;
    }
    return SocketErrorText(ErrorCode);
}

}  // namespace egaiss::platform
