#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "platform/uCodePage.h"
#include "platform/uErrors.h"
#include "platform/uUtf8.h"

namespace egaiss::platform {
namespace {

struct TIconvCloser {
    void operator()(iconv_t converter) const { iconv_close(converter); }
};
using TIconvHandle = std::unique_ptr<std::remove_pointer_t<iconv_t>, TIconvCloser>;

constexpr char NoForm = '?';

TIconvHandle OpenConverter(const char* to, const char* from) {
    iconv_t converter = iconv_open(to, from);
    // iconv reports failure as the handle (iconv_t)-1.
    if (converter == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr)
        throw EAgentError(std::string("Cannot convert text from ") + from + " to " + to + ": " +
                          std::strerror(errno));
    }
    return TIconvHandle(converter);
}

// Code page 1251 as lookup tables, read once from the system's iconv byte by byte. Running iconv
// over every field costs more than all the rest of reading a price file and building the tables.
class TCp1251Tables {
public:
    static const TCp1251Tables& Instance() {
        static const TCp1251Tables tables;
        return tables;
    }

    // The UTF-8 form of a byte, padded to four bytes.
    const char* Utf8Bytes(unsigned char byte) const { return FUtf8[byte].data(); }
    std::size_t Utf8Length(unsigned char byte) const { return FUtf8Length[byte]; }
    // The 1251 byte of a code point, or 0 when it has none (only U+0000 is byte 0).
    unsigned char ByteOf(std::uint32_t code) const { return code < FByteOf.size() ? FByteOf[code] : 0; }
    // ByteOf for a well-formed two-byte sequence (lead 0xC2..0xDF), looked up in one small table:
    // Cyrillic text is almost all such sequences.
    unsigned char ByteOfPair(unsigned lead, unsigned next) const {
        return FByteOfPair[((lead & 0x1FU) << 6) | (next & 0x3FU)];
    }

private:
    TCp1251Tables() {
        const TIconvHandle decoder = OpenConverter("UTF-8", "CP1251");
        for (unsigned byte = 0; byte < 256; ++byte) {
            char in = static_cast<char>(byte);
            char* inPtr = &in;
            std::size_t inLeft = 1;
            char out[8];
            char* outPtr = out;
            std::size_t outLeft = sizeof out;
            iconv(decoder.get(), nullptr, nullptr, nullptr, nullptr);
            std::uint32_t code = byte;
            if (iconv(decoder.get(), &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
                inLeft == 0) {
                const std::string_view utf8(out, static_cast<std::size_t>(outPtr - out));
                if (utf8.empty() || DecodeUtf8(utf8, 0, code) != utf8.size()) code = byte;
            }
            // Otherwise the byte is unassigned (glibc: 0x98); Windows reads it as U+0098 and so do we.
            Encode(static_cast<unsigned char>(byte), code);
        }
    }

    void Encode(unsigned char byte, std::uint32_t code) {
        auto& utf8 = FUtf8[byte];
        if (code < 0x80) {
            utf8[0] = static_cast<char>(code);
            FUtf8Length[byte] = 1;
        } else if (code < 0x800) {
            utf8[0] = static_cast<char>(0xC0 | (code >> 6));
            utf8[1] = static_cast<char>(0x80 | (code & 0x3F));
            FUtf8Length[byte] = 2;
        } else {
            utf8[0] = static_cast<char>(0xE0 | (code >> 12));
            utf8[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8[2] = static_cast<char>(0x80 | (code & 0x3F));
            FUtf8Length[byte] = 3;
        }
        if (code < FByteOf.size()) FByteOf[code] = byte;
        if (code >= 0x80 && code < FByteOfPair.size()) FByteOfPair[code] = byte;
    }

    std::array<std::array<char, 4>, 256> FUtf8{};
    std::array<unsigned char, 256> FUtf8Length{};
    std::array<unsigned char, 0x10000> FByteOf{};
    std::array<unsigned char, 0x800> FByteOfPair{};  // by code point: every two-byte one is below 0x800
};

// Length of the ASCII start of a text, eight bytes at a time where it can: price file lines
// begin with long runs of digits and separators.
}  // namespace

void Utf8ToCp1251(std::string_view text, std::string& out) {
    const std::size_t ascii = AsciiPrefixLength(text);
    if (ascii == text.size()) {
        out.assign(text);
        return;
    }

    const TCp1251Tables& tables = TCp1251Tables::Instance();
    // Every character, and every stray byte, gives one byte, so the input size is enough room.
    out.resize(text.size());
    std::memcpy(out.data(), text.data(), ascii);
    char* to = out.data() + ascii;
    const auto* const begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* in = begin + ascii;
    const auto* const end = begin + text.size();
    while (in < end) {
        const unsigned lead = *in;
        if (lead < 0x80) {
            *to++ = static_cast<char>(lead);
            ++in;
            continue;
        }
        unsigned char mapped = 0;
        std::size_t length = 2;
        if (lead >= 0xC2 && lead < 0xE0 && end - in > 1 && (in[1] & 0xC0) == 0x80) {
            mapped = tables.ByteOfPair(lead, in[1]);
        } else {
            std::uint32_t code = 0;
            length = DecodeUtf8(text, static_cast<std::size_t>(in - begin), code);
            if (length != 0) mapped = tables.ByteOf(code);
        }
        // No 1251 form, or not UTF-8 at all: one "?" and carry on after that character or byte.
        *to++ = mapped == 0 ? NoForm : static_cast<char>(mapped);
        in += length == 0 ? 1 : length;
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
}

std::string Utf8ToCp1251(std::string_view text) {
    std::string result;
    Utf8ToCp1251(text, result);
    return result;
}

void Cp1251ToUtf8(std::string_view bytes, std::string& out) {
    const std::size_t ascii = AsciiPrefixLength(bytes);
    if (ascii == bytes.size()) {
        out.assign(bytes);
        return;
    }

    const TCp1251Tables& tables = TCp1251Tables::Instance();
    out.clear();
    // Cyrillic letters take two bytes each; the rare three-byte ones may grow the text once.
    out.reserve(bytes.size() + (bytes.size() - ascii));
    out.append(bytes.data(), ascii);

    // Through a small buffer: a whole file is not given room for the worst case (three bytes each),
    // and each character is one fixed-size copy.
    constexpr std::size_t Block = 4096;
    char buffer[Block * 3 + 4];
    for (std::size_t pos = ascii; pos < bytes.size();) {
        const std::size_t end = std::min(bytes.size(), pos + Block);
        char* to = buffer;
        while (pos < end) {
            const auto byte = static_cast<unsigned char>(bytes[pos]);
            if (byte < 0x80) {
                *to++ = static_cast<char>(byte);
            } else {
                std::memcpy(to, tables.Utf8Bytes(byte), 4);
                to += tables.Utf8Length(byte);
            }
            ++pos;
        }
        out.append(buffer, static_cast<std::size_t>(to - buffer));
    }
}

std::string Cp1251ToUtf8(std::string_view bytes) {
    std::string result;
    Cp1251ToUtf8(bytes, result);
    return result;
}

}  // namespace egaiss::platform
