#include "clients/uHttpErrors.h"

#include <rapidjson/document.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <memory>

#include "clients/uPeerJson.h"
#include "core/uEgaissLog.h"
#include "core/uEgaissRu.h"

namespace egaiss {
namespace {

constexpr std::size_t InflateChunkBytes = 65536;
constexpr int GzipOnlyWindowBits = 15 + 16;

struct TInflateEnd {
    void operator()(z_stream* stream) const {
        inflateEnd(stream);
        delete stream;
    }
};

std::string ZlibReason(const z_stream& stream, int code) {
    if (stream.msg != nullptr) return stream.msg;
    return zError(code);
}

std::string SizeText(std::uint64_t bytes) {
    constexpr std::uint64_t mebibyte = std::uint64_t{1024} * 1024;
    if (bytes % mebibyte == 0) return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

// A JSON member read as text; nothing for a missing member or one holding an object or array.
// Numbers are parsed as strings, so they come back as their literal.
std::optional<std::string> MemberText(const rapidjson::Value& object, const char* name) {
    const auto found = object.FindMember(name);
    if (found == object.MemberEnd()) return std::nullopt;
    const rapidjson::Value& value = found->value;
    if (value.IsString()) return std::string(value.GetString(), value.GetStringLength());
    if (value.IsTrue()) return std::string("true");
    if (value.IsFalse()) return std::string("false");
    if (value.IsNull()) return std::string();
    return std::nullopt;
}

}  // namespace

void PrepareHttpClient(platform::THttpClient* client) {
    if (client == nullptr) return;
    try {
        client->SetAutomaticDecompression(false);
    } catch (const std::exception& error) {
        LogDebug(std::string("AutomaticDecompression clear failed: ") + error.what());
    } catch (...) {
        LogDebug("AutomaticDecompression clear failed: ");
    }
    try {
        client->SetDefaultHeader("Accept-Encoding", "identity");
    } catch (const std::exception& error) {
        LogDebug(std::string("AcceptEncoding=identity failed: ") + error.what());
    } catch (...) {
        LogDebug("AcceptEncoding=identity failed: ");
    }
}

TBytes ReadResponseBytes(const platform::THttpResponse* response) {
    if (response == nullptr) return {};
    return response->Body;
}

bool IsGzipBytes(const TBytes& bytes) {
    return bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

TBytes GunzipBytes(const TBytes& bytes, std::uint64_t maxOutputBytes) {
    std::unique_ptr<z_stream, TInflateEnd> stream;
    {
        auto fresh = std::make_unique<z_stream>();
        const int code = inflateInit2(fresh.get(), GzipOnlyWindowBits);
        if (code != Z_OK) throw EGzipError("Gzip inflate failed: " + ZlibReason(*fresh, code));
        stream.reset(fresh.release());
    }

    TBytes output;
    const std::uint8_t* input = bytes.data();
    std::size_t inputLeft = bytes.size();
    std::uint8_t chunk[InflateChunkBytes];
    for (;;) {
        if (stream->avail_in == 0 && inputLeft > 0) {
            const std::size_t take = std::min<std::size_t>(inputLeft, UINT_MAX);
            stream->next_in = const_cast<Bytef*>(input);
            stream->avail_in = static_cast<uInt>(take);
            input += take;
            inputLeft -= take;
        }
        stream->next_out = chunk;
        stream->avail_out = sizeof chunk;
        const int code = inflate(stream.get(), Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - stream->avail_out;
        if (code != Z_OK && code != Z_STREAM_END && code != Z_BUF_ERROR) {
            throw EGzipError("Gzip inflate failed: " + ZlibReason(*stream, code));
        }
        if (output.size() + produced > maxOutputBytes) {
            throw EGzipError("Gzip body inflates to more than " + SizeText(maxOutputBytes));
        }
        if (output.size() + produced > output.capacity()) {
            const std::size_t wanted = std::max(output.capacity() * 2, output.size() + produced);
            output.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wanted, maxOutputBytes)));
        }
        output.insert(output.end(), chunk, chunk + produced);

        if (code == Z_STREAM_END) {
            // Concatenated gzip members form one body; anything else after the end is ignored.
            const std::uint8_t* next = stream->next_in;
            if (stream->avail_in >= 2 && next[0] == 0x1F && next[1] == 0x8B) {
                inflateReset(stream.get());
                continue;
            }
            return output;
        }
        if (produced == 0 && stream->avail_in == 0 && inputLeft == 0) {
            // A cut-off body would otherwise pass for a complete one.
            throw EGzipError("Gzip inflate failed: unexpected end of stream");
        }
    }
}

std::string HttpBodyToText(const TBytes& bytes) {
    if (bytes.empty()) return {};
    if (IsGzipBytes(bytes)) {
        LogDebug("HTTP body is gzip, inflate manually size=" + std::to_string(bytes.size()));
        const TBytes inflated = GunzipBytes(bytes);
        LogDebug("HTTP inflate ok size=" + std::to_string(inflated.size()));
        return Utf8ToText(AsText(inflated));
    }
    return Utf8ToText(AsText(bytes));
}

std::string HexPreview(const TBytes& bytes, std::size_t maxBytes) {
    static const char digits[] = "0123456789ABCDEF";
    const std::size_t shown = std::min(bytes.size(), maxBytes);
    std::string text;
    text.reserve(shown * 3 + 3);
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    if (bytes.size() > maxBytes) text += "...";
    return text;
}

std::string HttpResponseAsUtf8(const platform::THttpResponse* response) {
    if (response == nullptr) return {};
    std::string encoding;
    try {
        encoding = response->Header("Content-Encoding");
    } catch (...) {
        encoding.clear();
    }
    try {
        // The body itself, not a copy: it may be large.
        const TBytes& bytes = response->Body;
        LogDebug("HTTP decode status=" + std::to_string(response->StatusCode) + " enc=" + encoding +
                 " bytes=" + std::to_string(bytes.size()) + " hex=[" + HexPreview(bytes, 16) + "]");
        std::string text = HttpBodyToText(bytes);
        LogDebug("HTTP decode OK chars=" + std::to_string(TextLength(text)));
        return text;
    } catch (const std::exception& error) {
        LogException("HttpResponseAsUtf8", error);
        throw;
    }
}

std::optional<std::string> TryJsonErrorText(const std::string& text) {
    try {
        rapidjson::Document document;
        if (!ParsePeerJson(text, document) || !document.IsObject()) return std::nullopt;
        for (const char* name : {"error", "message"}) {
            std::optional<std::string> value = MemberText(document, name);
            if (value && !value->empty()) return value;
        }
        return std::nullopt;
    } catch (...) {
        return std::nullopt;
    }
}

std::string HttpErrorText(const platform::THttpResponse& response) {
    std::string body;
    try {
        body = HttpResponseAsUtf8(&response);
    } catch (const std::exception& error) {
        body = error.what();
    }
    if (std::optional<std::string> jsonText = TryJsonErrorText(body)) return *jsonText;
    if (!body.empty()) return TextLeft(body, 300);
    if (!response.ReasonPhrase.empty()) return response.ReasonPhrase;
    return "HTTP error";
}

EHttpError NewHttpError(const platform::THttpResponse& response) {
    return EHttpError(response.StatusCode,
                      "HTTP " + std::to_string(response.StatusCode) + ": " + HttpErrorText(response));
}

void ConfigureUtmClient(platform::THttpClient& client, bool quick) {
    PrepareHttpClient(&client);
    client.SetConnectTimeoutMs(quick ? 3000 : 5000);
    client.SetResponseTimeoutMs(quick ? 5000 : 60000);
    // Documents are fetched, deleted and posted only on the configured UTM, redirects included.
    client.SetSameHostRedirectsOnly(true);
}

void ConfigureServerClient(platform::THttpClient& client, bool quick) {
    PrepareHttpClient(&client);
    client.SetConnectTimeoutMs(quick ? 5000 : 10000);
    client.SetResponseTimeoutMs(quick ? 15000 : 60000);
    client.SetFollowRedirects(true);
    // Every request of the server client carries the agent's id and secret.
    client.SetSameHostRedirectsOnly(true);
}

void ConfigureDownloadRate(platform::THttpClient& client) {
    client.SetMinimumRate(DownloadMinBytesPerSecond, DownloadRateWindowMs);
}

}  // namespace egaiss
