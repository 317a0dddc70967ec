#include "scales/uPriceFile.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <optional>

#include "core/uEgaissRu.h"
#include "platform/uCodePage.h"
#include "platform/uFileSystem.h"
#include "platform/uPath.h"
#include "platform/uUtf8.h"

namespace egaiss {
namespace {

constexpr std::uint8_t DefaultBarcodePrefix = 21;
constexpr std::size_t CodeChars = 15;
constexpr std::size_t CertificateChars = 4;

constexpr std::size_t XmlCellsPerRow = 8;
constexpr std::size_t MaxReservedRows = 200000;
// The 1251 decoding of a CSV file is trusted when its start holds this header.
constexpr std::string_view Cp1251Marker = "PLU;TYPE";
constexpr std::size_t Cp1251MarkerWindow = 40;

constexpr std::int64_t MaxInt64 = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MaxInt32 = std::numeric_limits<std::int32_t>::max();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        c = UpperAscii(c);
    }
    return upper;
}

// TrimControl without the copy.
std::string_view TrimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) < 33) {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string DigitsOf(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (IsDigit(c)) digits += c;
    }
    return digits;
}

// The digits of a text read as one decimal number up to `limit`; nothing when there are no
// digits or the number does not fit.
std::optional<std::uint64_t> DigitsNumber(std::string_view text, std::int64_t limit) {
    bool any = false;
    std::uint64_t value = 0;
    const auto max = static_cast<std::uint64_t>(limit);
    for (const char c : text) {
        if (!IsDigit(c)) continue;
        any = true;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (!any) return std::nullopt;
    return value;
}

// Fields read as 64-bit numbers keep their low 32 bits.
std::uint32_t DigitsLow32(std::string_view text) {
    return static_cast<std::uint32_t>(DigitsNumber(text, MaxInt64).value_or(0));
}

// Fields read as 32-bit signed numbers; the caller keeps as many low bits as the field has.
std::uint32_t DigitsInt32(std::string_view text, std::uint32_t fallback) {
    const auto value = DigitsNumber(text, MaxInt32);
    return value ? static_cast<std::uint32_t>(*value) : fallback;
}

// A plain decimal integer with an optional sign; 0 when the text is anything else.
int IntOrZero(std::string_view text) {
    std::size_t pos = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        ++pos;
    }
    if (pos == text.size()) return 0;
    std::int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        if (!IsDigit(text[pos])) return 0;
        value = value * 10 + (text[pos] - '0');
        if (value > MaxInt32) return 0;
    }
    return static_cast<int>(negative ? -value : value);
}

// "h:m" or "h:m:s" with each part in range.
std::optional<std::chrono::seconds> ParseTimeOfDay(std::string_view text) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    std::size_t pos = 0;
    while (true) {
        if (count == 3) return std::nullopt;
        const std::size_t colon = std::min(text.find(':', pos), text.size());
        const std::string_view part = text.substr(pos, colon - pos);
        if (part.empty() || part.size() > 9) return std::nullopt;
        int value = 0;
        for (const char c : part) {
            if (!IsDigit(c)) return std::nullopt;
            value = value * 10 + (c - '0');
        }
        parts[count++] = value;
        if (colon == text.size()) break;
        pos = colon + 1;
    }
    if (count < 2 || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
    return std::chrono::hours(parts[0]) + std::chrono::minutes(parts[1]) + std::chrono::seconds(parts[2]);
}

// The first `count` characters; a text of at most `count` bytes has no more characters than that.
std::string CutText(std::string_view text, std::size_t count) {
    return text.size() <= count ? std::string(text) : TextLeft(text, count);
}

// --- CSV -------------------------------------------------------------------------------------

enum TCsvColumn {
    ccPlu,
    ccType,
    ccBarcodePrefix,
    ccPrice,
    ccTare,
    ccCode,
    ccBestBefore,
    ccShelfLife,
    ccCertificate,
    ccGroup,
    ccCentering,
    ccName,
    ccContent,
    ccInfo,
    ccCount
};

struct TCsvColumnDef {
    std::string_view Name;
    int Position;
};

constexpr TCsvColumnDef CsvColumns[ccCount] = {
    {"PLU", 0},        {"TYPE", 1},        {"BARCODE_PREFIX", 4}, {"PRICE", 5},        {"TARE", 6},
    {"CODE", 7},       {"BEST_BEFORE", 8}, {"SHELF_LIFE", 9},     {"CERTIFICATE", 10}, {"GROUP", 11},
    {"CENTERING", 12}, {"NAME", 13},       {"CONTENT", 14},       {"INFO", 16},
};

// Index of the first header field that, trimmed and upper-cased, equals the name; -1 when none.
int HeaderIndex(const std::vector<std::string>& header, std::string_view name) {
    const std::string wanted = UpperAscii(TrimView(name));
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string_view cell = TrimView(header[i]);
        if (cell.size() != wanted.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < cell.size() && same; ++k) {
            same = UpperAscii(cell[k]) == wanted[k];
        }
        if (same) return static_cast<int>(i);
    }
    return -1;
}

// Appends the text with every pair of double quotes made one.
void CollapseQuotePairs(std::string_view text, std::string& out) {
    std::size_t pos = 0;
    for (std::size_t pair = text.find("\"\""); pair != std::string_view::npos;
         pair = text.find("\"\"", pos)) {
        out.append(text.substr(pos, pair + 1 - pos));
        pos = pair + 2;
    }
    out.append(text.substr(pos));
}

// Most fields hold no quote at all, which the library's search finds fastest.
bool HasQuotePair(std::string_view text) {
    for (std::size_t quote = text.find('"'); quote != std::string_view::npos && quote + 1 < text.size();
         quote = text.find('"', quote + 1)) {
        if (text[quote + 1] == '"') return true;
    }
    return false;
}

// UnquoteCsvField as a view: into the text itself, or into `scratch` when quote pairs had to be
// collapsed (then it lasts until the next use of `scratch`).
std::string_view UnquoteView(std::string_view text, std::string& scratch) {
    std::string_view trimmed = TrimView(text);
    if (trimmed.size() > 1 && trimmed.front() == '"' && trimmed.back() == '"') {
        trimmed = trimmed.substr(1, trimmed.size() - 2);
    }
    if (!HasQuotePair(trimmed)) return trimmed;
    scratch.clear();
    CollapseQuotePairs(trimmed, scratch);
    return scratch;
}

// A column found in the header is read there even when the row is too short for it; only a
// column missing from the header falls back to its fixed position.
std::string_view FieldView(const std::vector<std::string_view>& values, int headerIndex, int position,
                           std::string& scratch) {
    const int index = headerIndex >= 0 ? headerIndex : position;
    if (index < 0 || static_cast<std::size_t>(index) >= values.size()) return {};
    return UnquoteView(values[static_cast<std::size_t>(index)], scratch);
}

// One line's fields as views into the line, or into `store` for quoted fields with doubled
// quotes. The unquoted texts never outgrow the line, so with the line's size reserved up front
// `store` never moves and its views stay valid.
void SplitCsvLineViews(std::string_view line, std::vector<std::string_view>& fields, std::string& store) {
    fields.clear();
    store.clear();
    store.reserve(line.size());
    if (line.empty()) return;
    std::size_t pos = 0;
    const std::size_t size = line.size();
    while (true) {
        if (pos < size && line[pos] == '"') {
            const std::size_t begin = ++pos;
            bool doubled = false;
            while (pos < size) {
                if (line[pos] == '"') {
                    if (pos + 1 < size && line[pos + 1] == '"') {
                        doubled = true;
                        pos += 2;
                        continue;
                    }
                    break;
                }
                ++pos;
            }
            const std::string_view quoted = line.substr(begin, pos - begin);
            if (pos < size) ++pos;  // the closing quote; a missing one takes the rest of the line
            if (doubled) {
                const std::size_t at = store.size();
                CollapseQuotePairs(quoted, store);
                fields.emplace_back(store.data() + at, store.size() - at);
            } else {
                fields.push_back(quoted);
            }
            if (pos >= size) return;
            if (line[pos] == ';') {
                ++pos;
                if (pos == size) {
                    fields.emplace_back();
                    return;
                }
            }
            // Otherwise the text after the closing quote starts a field of its own.
            continue;
        }
        // Fields are short: a plain scan costs less than a library call per field.
        std::size_t separator = pos;
        while (separator < size && line[separator] != ';') {
            ++separator;
        }
        if (separator == size) {
            fields.push_back(line.substr(pos));
            return;
        }
        fields.push_back(line.substr(pos, separator - pos));
        pos = separator + 1;
        if (pos == size) {
            fields.emplace_back();
            return;
        }
    }
}

// Steps through the lines of a text ending in CR LF, LF or CR; a final break adds no empty line.
class TLineReader {
public:
    explicit TLineReader(std::string_view text)
        : FText(text), FNextLf(Find('\n', 0)), FNextCr(Find('\r', 0)) {}

    bool Next(std::string_view& line) {
        if (FPos >= FText.size()) return false;
        // Each kind of break is searched for once past the last one found, so a file that uses
        // only the other kind is still read in one pass.
        if (FNextLf < FPos) FNextLf = Find('\n', FPos);
        if (FNextCr < FPos) FNextCr = Find('\r', FPos);
        const std::size_t end = std::min(FNextLf, FNextCr);
        line = FText.substr(FPos, end - FPos);
        FPos = end;
        if (FPos < FText.size()) FPos += (FPos == FNextCr && FNextLf == FPos + 1) ? 2 : 1;
        return true;
    }

private:
    std::size_t Find(char c, std::size_t from) const { return std::min(FText.find(c, from), FText.size()); }

    std::string_view FText;
    std::size_t FPos = 0;
    std::size_t FNextLf;
    std::size_t FNextCr;
};

std::size_t CountLineFeeds(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = text.find('\n'); pos != std::string_view::npos; pos = text.find('\n', pos + 1)) {
        ++count;
    }
    return count;
}

// --- Checks shared by both price file forms ----------------------------------------------------

// Minutes of a longer shelf life overflow the table's 32-bit field; such a file must fail here,
// as a parse error, so that the loader marks it instead of failing on it at every poll.
bool CheckShelfLife(const TMassaPluRow& row, std::string& err) {
    if (row.ShelfLifeDays <= MaxShelfLifeDays) return true;
    err = "Shelf life too long for PLU " + std::to_string(row.Plu);
    return false;
}

bool CheckShelfLives(TMassaPluRows& rows, std::string& err) {
    for (const auto& row : rows) {
        if (!CheckShelfLife(row, err)) {
            rows.clear();
            return false;
        }
    }
    return true;
}

bool Fail(TMassaPluRows& rows, std::string& err, std::string message) {
    rows.clear();
    err = std::move(message);
    return false;
}

// --- Price kopecks -----------------------------------------------------------------------------

// The price text is a decimal, so it is scaled and rounded in decimal: "2.675" is exactly 267.5
// kopecks and goes to 268, where binary floating point would see 267.4999... and give 267.
std::uint32_t DecimalToKop(std::string_view text) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';

    std::string digits;
    std::size_t integerDigits = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        digits += text[pos++];
    }
    integerDigits = digits.size();
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && IsDigit(text[pos])) {
            digits += text[pos++];
        }
    }
    if (digits.empty()) return 0;

    long long exponent = 0;
    if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
            negativeExponent = text[pos++] == '-';
        }
        if (pos == text.size() || !IsDigit(text[pos])) return 0;
        while (pos < text.size() && IsDigit(text[pos])) {
            exponent = std::min(exponent * 10 + (text[pos++] - '0'), 1000000LL);
        }
        if (negativeExponent) exponent = -exponent;
    }
    if (pos != text.size()) return 0;

    const std::size_t firstSignificant = digits.find_first_not_of('0');
    if (firstSignificant == std::string::npos) return 0;
    if (negative) return 0;

    // Position of the decimal point in `digits` once the value is multiplied by 100.
    const long long point = static_cast<long long>(integerDigits) + exponent + 2;
    // A magnitude beyond double's range does not read as a number.
    if (point - static_cast<long long>(firstSignificant) > 309) return 0;

    const auto digitAt = [&](long long index) {
        return index >= 0 && index < static_cast<long long>(digits.size())
                   ? digits[static_cast<std::size_t>(index)] - '0'
                   : 0;
    };
    std::uint32_t kop = 0;  // unsigned arithmetic keeps the low 32 bits
    for (long long index = 0; index < point; ++index) {
        kop = kop * 10 + static_cast<std::uint32_t>(digitAt(index));
    }
    const int next = digitAt(point);
    bool restNonZero = false;
    for (long long index = std::max(point + 1, 0LL); index < static_cast<long long>(digits.size()); ++index) {
        if (digits[static_cast<std::size_t>(index)] != '0') {
            restNonZero = true;
            break;
        }
    }
    if (next > 5 || (next == 5 && (restNonZero || (kop & 1U) != 0))) ++kop;
    return kop;
}

// --- Price file parsing -----------------------------------------------------------------------

// What a CSV file's bytes are and what its rows carry.
enum class TCsvText {
    ctUtf8,           // UTF-8 read as UTF-8
    ctCp1251ToUtf8,   // 1251, decoded line by line: the rows carry UTF-8
    ctCp1251AsCp1251  // 1251 kept as it is, for the scale tables: the rows carry 1251 (TRowText::rtCp1251)
};

// The CSV form line by line: the header first, then one row per data line, built in a record that
// the next line reuses. A 1251 file is decoded line by line, so that a large file never sits in
// memory twice (raw and decoded); line breaks, separators, quotes and digits are the same bytes in
// both encodings, so a file kept in 1251 is split and read the same way.
class TCsvReader {
public:
    explicit TCsvReader(TCsvText text) : FText(text) {}

    bool ReadHeader(std::string_view line, std::string& err) {
        const std::vector<std::string> header = SplitCsvLine(TextOf(line));
        if (header.empty() || UpperAscii(header[0]).rfind("PLU", 0) != 0) {
            err = "CSV: expected header starting with PLU;TYPE;...";
            return false;
        }
        for (int column = 0; column < ccCount; ++column) {
            FHeaderIndex[column] = HeaderIndex(header, CsvColumns[column].Name);
        }
        return true;
    }

    // The row of a data line, or null when the line gives none; valid until the next call.
    const TMassaPluRow* ReadRow(std::string_view line) {
        if (TrimView(line).empty()) return nullptr;
        SplitCsvLineViews(TextOf(line), FValues, FStore);
        if (FValues.size() < 6) return nullptr;
        // A field's view lasts until the next field is read; the PLU field, needed again for a
        // missing code, has a scratch text of its own.
        const auto field = [&](TCsvColumn column) {
            return FieldView(FValues, FHeaderIndex[column], CsvColumns[column].Position, FScratch);
        };
        const std::string_view pluField =
            FieldView(FValues, FHeaderIndex[ccPlu], CsvColumns[ccPlu].Position, FPluScratch);
        TMassaPluRow& row = FRow;
        row.Plu = DigitsLow32(pluField);
        if (row.Plu == 0) return nullptr;
        row.Id = row.Plu;
        row.GoodsType = static_cast<std::uint8_t>(DigitsInt32(field(ccType), 0));
        row.BarcodePrefix =
            static_cast<std::uint8_t>(DigitsInt32(field(ccBarcodePrefix), DefaultBarcodePrefix));
        row.PriceKop = ParsePriceKop(field(ccPrice));
        row.TareGrams = DigitsLow32(field(ccTare));
        const std::string_view code = TrimView(field(ccCode));
        row.Code = code.empty() ? CutText(DigitsOf(pluField), CodeChars) : RowText(code, CodeChars);
        row.BestBefore = {};
        row.HasBestBefore = ParseBestBefore(field(ccBestBefore), row.BestBefore);
        row.ShelfLifeDays = DigitsLow32(field(ccShelfLife));
        row.Certificate = RowText(TrimView(field(ccCertificate)), CertificateChars);
        row.GroupCode = static_cast<std::uint16_t>(DigitsInt32(field(ccGroup), 0));
        row.Centering = static_cast<std::uint8_t>(DigitsInt32(field(ccCentering), 0));
        row.Name = RowText(field(ccName));
        row.Ingredients = RowText(field(ccContent));
        row.InfoBarcode = DigitsOf(field(ccInfo));
        return &row;
    }

private:
    std::string_view TextOf(std::string_view raw) {
        if (FText != TCsvText::ctCp1251ToUtf8) return raw;
        platform::Cp1251ToUtf8(raw, FDecoded);
        return FDecoded;
    }

    // A text field as the row carries it, at most `chars` characters; in 1251 a byte is a character.
    std::string RowText(std::string_view field, std::size_t chars = std::string_view::npos) const {
        if (FText == TCsvText::ctCp1251AsCp1251) return std::string(field.substr(0, chars));
        return CutText(field, chars);
    }

    TCsvText FText;
    std::string FDecoded;
    int FHeaderIndex[ccCount] = {};
    std::vector<std::string_view> FValues;
    std::string FStore;
    std::string FPluScratch;
    std::string FScratch;
    TMassaPluRow FRow;
};

// The CSV form from `nextLine` (false at the end), each row handed to `take`; the errors of
// ParsePluCsv, and of CheckShelfLife at the first row that fails it.
template <typename TNextLine, typename TTakeRow>
bool ParseCsvLines(TNextLine&& nextLine, TCsvText text, TTakeRow&& take, std::string& err) {
    std::string_view line;
    if (!nextLine(line)) {
        err = "Empty CSV";
        return false;
    }
    TCsvReader reader(text);
    if (!reader.ReadHeader(line, err)) return false;
    std::size_t taken = 0;
    while (nextLine(line)) {
        const TMassaPluRow* row = reader.ReadRow(line);
        if (row == nullptr) continue;
        if (!CheckShelfLife(*row, err)) return false;
        take(*row);
        ++taken;
    }
    if (taken == 0) {
        err = "No PLU rows in CSV";
        return false;
    }
    return true;
}

bool ParseCsvSource(std::string_view source, TCsvText text, TMassaPluRows& rows, std::string& err) {
    rows.clear();
    err.clear();
    // Capped: a file of blank lines must not reserve room for rows it never has.
    rows.reserve(std::min(CountLineFeeds(source), MaxReservedRows));
    TLineReader lines(source);
    const bool ok = ParseCsvLines([&](std::string_view& line) { return lines.Next(line); }, text,
                                  [&](const TMassaPluRow& row) { rows.push_back(row); }, err);
    if (!ok) rows.clear();
    return ok;
}

// The lines of a file read block by block: only the block being read and a line cut by its end
// are held. Lines are views that last until the next call.
class TFileLines {
public:
    explicit TFileLines(const std::string& path) : FFile(path) {}

    bool Next(std::string_view& line) {
        while (!FLines.Next(line)) {
            if (FAtEnd) return false;
            ReadBlock();
        }
        return true;
    }

private:
    static constexpr std::size_t BlockSize = std::size_t{1} << 20;

    // Appends a block after the unread rest and hands over the lines it completes: up to the last
    // break, except a CR at the very end, which may be the first half of a CR LF.
    void ReadBlock() {
        FBuffer.erase(0, FHandedOver);
        const std::size_t kept = FBuffer.size();
        FBuffer.resize(kept + BlockSize);
        const std::size_t got = FFile.Read(FBuffer.data() + kept, BlockSize);
        FBuffer.resize(kept + got);
        FAtEnd = got == 0;
        std::size_t complete = FBuffer.size();
        if (!FAtEnd) {
            std::size_t lastBreak = FBuffer.find_last_of("\r\n");
            if (lastBreak != std::string::npos && lastBreak + 1 == FBuffer.size() &&
                FBuffer[lastBreak] == '\r') {
                lastBreak = lastBreak == 0 ? std::string::npos : FBuffer.find_last_of("\r\n", lastBreak - 1);
            }
            complete = lastBreak == std::string::npos ? 0 : lastBreak + 1;
        }
        FHandedOver = complete;
        FLines = TLineReader(std::string_view(FBuffer).substr(0, complete));
    }

    platform::TFileReader FFile;
    std::string FBuffer;
    std::size_t FHandedOver = 0;
    TLineReader FLines{std::string_view()};
    bool FAtEnd = false;
};

// Room for the tables of a usual price file, so that growing them never holds an old and a new
// copy at once; pages that are never written are never resident. A file with unusually short
// lines grows its tables as usual.
void ReserveTables(TScaleTables& tables, std::uintmax_t fileSize) {
    constexpr std::uintmax_t MaxReserved = std::uintmax_t{256} << 20;
    if (fileSize == static_cast<std::uintmax_t>(-1) || fileSize > MaxReserved) return;
    const auto size = static_cast<std::size_t>(fileSize);
    tables.Goods.reserve(tables.Goods.size() + size + size / 4);
    tables.Plu.reserve(tables.Plu.size() + size / 4);
}

bool IsXmlSheetPath(const std::filesystem::path& file) {
    std::string extension = PathUtf8(file.extension());
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".xls" || extension == ".xml";
}

// 1251 is one byte per character, so its first 40 characters are the first 40 bytes.
bool StartsAsCp1251Csv(std::string_view bytes) {
    return UpperAscii(bytes.substr(0, Cp1251MarkerWindow)).find(Cp1251Marker) != std::string::npos;
}

std::string FileStart(const std::string& path) {
    platform::TFileReader file(path);
    std::string start(Cp1251MarkerWindow, '\0');
    std::size_t got = 0;
    while (got < start.size()) {
        const std::size_t more = file.Read(start.data() + got, start.size() - got);
        if (more == 0) break;
        got += more;
    }
    start.resize(got);
    return start;
}

}  // namespace

// --- Public operations -------------------------------------------------------------------------

std::vector<std::string> SplitCsvLine(std::string_view line) {
    std::vector<std::string_view> views;
    std::string store;
    SplitCsvLineViews(line, views, store);
    return std::vector<std::string>(views.begin(), views.end());
}

std::string UnquoteCsvField(std::string_view text) {
    std::string scratch;
    return std::string(UnquoteView(text, scratch));
}

std::string CsvFieldByName(const std::vector<std::string>& values, const std::vector<std::string>& header,
                           std::string_view name, int position) {
    const std::vector<std::string_view> views(values.begin(), values.end());
    std::string scratch;
    return std::string(FieldView(views, HeaderIndex(header, name), position, scratch));
}

std::uint32_t ParsePriceKop(std::string_view text) {
    const std::string_view trimmed = TrimView(text);
    if (trimmed.empty()) return 0;
    std::string number;
    number.reserve(trimmed.size());
    for (const char c : trimmed) {
        if (c == ' ') continue;
        number += c == ',' ? '.' : c;
    }
    return DecimalToKop(number);
}

bool ParseBestBefore(std::string_view text, std::chrono::local_seconds& value) {
    using namespace std::chrono;
    const std::string_view trimmed = TrimView(text);
    if (trimmed.empty()) return false;

    const std::size_t space = trimmed.find(' ');
    const std::string_view datePart = trimmed.substr(0, space);
    const std::string_view timePart =
        space == std::string_view::npos ? "00:00:00" : TrimView(trimmed.substr(space + 1));

    const std::size_t firstDot = datePart.find('.');
    if (datePart.size() < 8 || TextLength(datePart) < 8 || firstDot == std::string_view::npos) return false;
    const std::size_t secondDot = datePart.find('.', firstDot + 1);
    const int dayNumber = IntOrZero(datePart.substr(0, firstDot));
    const int monthNumber = IntOrZero(datePart.substr(firstDot + 1, secondDot - (firstDot + 1)));
    int yearNumber = secondDot == std::string_view::npos ? 0 : IntOrZero(datePart.substr(secondDot + 1));
    if (dayNumber <= 0 || monthNumber <= 0 || yearNumber <= 0) return false;
    if (yearNumber < 100) yearNumber += 2000;
    if (yearNumber > 9999 || monthNumber > 12 || dayNumber > 31) return false;

    const year_month_day date{year{yearNumber}, month{static_cast<unsigned>(monthNumber)},
                              day{static_cast<unsigned>(dayNumber)}};
    if (!date.ok()) return false;
    value = local_days{date} + ParseTimeOfDay(timePart).value_or(seconds{0});
    return true;
}

bool ParsePluCsv(std::string_view text, TMassaPluRows& rows, std::string& err) {
    return ParseCsvSource(text, TCsvText::ctUtf8, rows, err);
}

bool ParsePluXmlSheet(std::string_view text, TMassaPluRows& rows, std::string& err) {
    rows.clear();
    err.clear();

    // Cell texts are taken raw, in document order, from every Data element.
    std::vector<std::string_view> cells;
    constexpr std::string_view Open = "<Data";
    constexpr std::string_view Close = "</Data>";
    std::size_t pos = 0;
    while (true) {
        const std::size_t start = text.find(Open, pos);
        if (start == std::string_view::npos) break;
        const std::size_t afterName = start + Open.size();
        if (afterName >= text.size()) break;
        // Elements such as DataValidation share the prefix but are no cells.
        const char next = text[afterName];
        if (next != '>' && next != '/' && next != ' ' && next != '\t' && next != '\r' && next != '\n') {
            pos = afterName;
            continue;
        }
        const std::size_t tagEnd = text.find('>', afterName);
        if (tagEnd == std::string_view::npos) break;
        if (text[tagEnd - 1] == '/') {
            // <Data/> is an empty cell; reading on to the next </Data> would shift every later cell.
            cells.emplace_back();
            pos = tagEnd + 1;
            continue;
        }
        const std::size_t end = text.find(Close, tagEnd + 1);
        if (end == std::string_view::npos) break;
        cells.push_back(text.substr(tagEnd + 1, end - tagEnd - 1));
        pos = end + Close.size();
    }
    if (cells.size() < 2 * XmlCellsPerRow) return Fail(rows, err, "XLS: not enough cells");

    std::size_t at = UpperAscii(cells[0]).find("ID") != std::string::npos ? XmlCellsPerRow : 0;
    for (; at + XmlCellsPerRow <= cells.size(); at += XmlCellsPerRow) {
        const auto cell = [&](std::size_t index) { return cells[at + index]; };
        TMassaPluRow row;
        row.Id = static_cast<std::uint32_t>(
            DigitsNumber(cell(0), MaxInt64).value_or(static_cast<std::uint64_t>(rows.size()) + 1));
        row.Code = TrimView(cell(1));
        row.Name = TrimView(cell(2));
        row.GoodsType = static_cast<std::uint8_t>(DigitsInt32(cell(3), 0));
        row.PriceKop = ParsePriceKop(cell(4));
        row.Ingredients = TrimView(cell(5));
        row.ShelfLifeDays = DigitsLow32(cell(6));
        row.Plu = DigitsLow32(cell(7));
        if (row.Plu == 0) row.Plu = DigitsLow32(cell(1));
        if (row.Plu == 0) continue;
        if (row.Id == 0) row.Id = row.Plu;
        if (row.Code.empty()) row.Code = std::to_string(row.Plu);
        row.Code = CutText(row.Code, CodeChars);
        row.BarcodePrefix = DefaultBarcodePrefix;
        rows.push_back(std::move(row));
    }
    if (rows.empty()) return Fail(rows, err, "XLS: no rows");
    return CheckShelfLives(rows, err);
}

bool LoadPriceFile(const std::string& path, TMassaPluRows& rows, std::string& err) {
    static constexpr std::string_view NoMapping =
        "No mapping for the Unicode character exists in the target multi-byte code page";
    static constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
    rows.clear();
    err.clear();
    try {
        const std::filesystem::path file = Utf8Path(path);
        std::error_code error;
        if (!std::filesystem::exists(file, error)) return Fail(rows, err, "File not found");
        std::string bytes = platform::ReadWholeFile(path);

        if (IsXmlSheetPath(file)) {
            std::string_view content = bytes;
            if (content.substr(0, Utf8Bom.size()) == Utf8Bom) content.remove_prefix(Utf8Bom.size());
            // A spreadsheet is UTF-8 or nothing: garbled names must not reach the labels.
            if (!IsWellFormedUtf8(content)) return Fail(rows, err, std::string(NoMapping));
            return ParsePluXmlSheet(content, rows, err);
        }
        if (StartsAsCp1251Csv(bytes)) return ParseCsvSource(bytes, TCsvText::ctCp1251ToUtf8, rows, err);
        if (!IsWellFormedUtf8(bytes)) return Fail(rows, err, std::string(NoMapping));
        return ParseCsvSource(bytes, TCsvText::ctUtf8, rows, err);
    } catch (const std::exception& error) {
        return Fail(rows, err, error.what());
    }
}

bool LoadPriceFileTables(const std::string& path, TScaleTables& tables, std::string& err) {
    tables = {};
    err.clear();
    try {
        const std::filesystem::path file = Utf8Path(path);
        std::error_code error;
        // The ERP's usual export is read block by block; the other forms are read whole.
        if (IsXmlSheetPath(file) || !std::filesystem::exists(file, error) ||
            !StartsAsCp1251Csv(FileStart(path))) {
            TMassaPluRows rows;
            if (!LoadPriceFile(path, rows, err)) return false;
            tables = {BuildGoodsFile(rows), BuildPluFile(rows), rows.size()};
            return true;
        }
        TFileLines lines(path);
        tables.Goods = ScaleFileHeader(GoodsFileCode);
        tables.Plu = ScaleFileHeader(PluFileCode);
        ReserveTables(tables, std::filesystem::file_size(file, error));
        const bool ok = ParseCsvLines([&](std::string_view& line) { return lines.Next(line); },
                                      TCsvText::ctCp1251AsCp1251,
                                      [&](const TMassaPluRow& row) {
                                          AppendGoodsRecord(tables.Goods, row, TRowText::rtCp1251);
                                          AppendPluRecord(tables.Plu, row);
                                          ++tables.Rows;
                                      },
                                      err);
        if (!ok) tables = {};
        return ok;
    } catch (const std::exception& error) {
        tables = {};
        err = error.what();
        return false;
    }
}

}  // namespace egaiss
