#include "scales/uMassaKFile.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/uCodePage.h"

namespace egaiss {
namespace {

constexpr std::size_t CodeWidth = 15;
constexpr std::size_t UnitWidth = 5;
constexpr std::size_t CertificateWidth = 4;
constexpr std::size_t NameLimit = 250;
constexpr std::size_t IngredientsLimit = 1500;
constexpr std::uint32_t MinutesPerDay = 1440;

constexpr std::uint32_t BaseFlags = 0x813F;
constexpr std::uint32_t FlagTare = 0x40;
constexpr std::uint32_t FlagGroup = 0x200;
constexpr std::uint32_t FlagCentering = 0x800;
constexpr std::uint32_t FlagBestBefore = 0x1000;
constexpr std::uint32_t FlagShelfLife = 0x2000;
constexpr std::uint32_t FlagCertificate = 0x4000;

constexpr std::uint16_t PluRecordTail = 19;
constexpr std::uint32_t PluUnitFactor = 1000;

constexpr std::size_t HeaderSize = 14;
constexpr std::size_t MaxFixedPart = 51;
constexpr std::size_t MaxGoodsRecord = 7 + MaxFixedPart + 2 + NameLimit + 2 + IngredientsLimit;
constexpr std::size_t PluRecordSize = 25;

// Writes one record into a buffer the caller sized for the largest record of its kind.
class TRecordWriter {
public:
    explicit TRecordWriter(std::uint8_t* buffer) : FBegin(buffer), FAt(buffer) {}

    void U8(std::uint8_t value) { *FAt++ = value; }
    void U16(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value));
        U8(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            U8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    void U48BigEndian(std::uint64_t value) {
        for (int shift = 40; shift >= 0; shift -= 8) {
            U8(static_cast<std::uint8_t>(value >> shift));
        }
    }
    // Cut to `width` bytes or padded with spaces to it.
    void FixedText(std::string_view cp1251, std::size_t width) {
        const std::size_t taken = std::min(cp1251.size(), width);
        Raw(cp1251.substr(0, taken));
        std::memset(FAt, ' ', width - taken);
        FAt += width - taken;
    }
    // A 16-bit length, at most `limit`, and that many bytes.
    void CountedText(std::string_view cp1251, std::size_t limit) {
        const std::size_t taken = std::min(cp1251.size(), limit);
        U16(static_cast<std::uint16_t>(taken));
        Raw(cp1251.substr(0, taken));
    }
    void PatchU16(std::size_t offset, std::uint16_t value) {
        FBegin[offset] = static_cast<std::uint8_t>(value);
        FBegin[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void PatchU8(std::size_t offset, std::uint8_t value) { FBegin[offset] = value; }
    std::size_t Size() const { return static_cast<std::size_t>(FAt - FBegin); }
    void AppendTo(TBytes& out) const { out.insert(out.end(), FBegin, FAt); }

private:
    void Raw(std::string_view bytes) {
        std::memcpy(FAt, bytes.data(), bytes.size());
        FAt += bytes.size();
    }

    std::uint8_t* FBegin;
    std::uint8_t* FAt;
};

std::string_view UnitText(const TMassaPluRow& row) {
    return row.GoodsType == 0 ? "kg" : "pcs";
}

// Spaces and control characters alone are no certificate.
bool IsBlank(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 33; });
}

std::uint32_t GoodsFlags(const TMassaPluRow& row) {
    std::uint32_t flags = BaseFlags;
    if (row.TareGrams > 0) flags |= FlagTare;
    if (row.GroupCode > 0) flags |= FlagGroup;
    if (row.Centering > 0) flags |= FlagCentering;
    if (row.HasBestBefore) flags |= FlagBestBefore;
    if (row.ShelfLifeDays > 0) flags |= FlagShelfLife;
    if (!IsBlank(row.Certificate)) flags |= FlagCertificate;
    return flags;
}

void PutBestBefore(TRecordWriter& out, std::chrono::local_seconds moment) {
    using namespace std::chrono;
    const auto day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss time{moment - day};
    const int year = static_cast<int>(date.year());
    out.U8(static_cast<std::uint8_t>((year % 100 + 100) % 100));
    out.U8(static_cast<std::uint8_t>(static_cast<unsigned>(date.month())));
    out.U8(static_cast<std::uint8_t>(static_cast<unsigned>(date.day())));
    out.U8(static_cast<std::uint8_t>(time.hours().count()));
    out.U8(static_cast<std::uint8_t>(time.minutes().count()));
    out.U8(static_cast<std::uint8_t>(time.seconds().count()));
}

}  // namespace

void AppendGoodsRecord(TBytes& file, const TMassaPluRow& row, TRowText text) {
    if (row.ShelfLifeDays > MaxShelfLifeDays) {
        throw EScaleTableError("Shelf life too long for PLU " + std::to_string(row.Plu));
    }
    const std::uint32_t flags = GoodsFlags(row);

    std::uint8_t buffer[MaxGoodsRecord];
    TRecordWriter out(buffer);
    out.U32(row.Id);
    out.U16(0);  // R and L, known at the end
    out.U8(0);
    const std::size_t fixedAt = out.Size();

    // One conversion buffer per thread, reused for every record.
    thread_local std::string converted;
    const auto cp1251 = [&](const std::string& texts) -> std::string_view {
        if (text == TRowText::rtCp1251) return texts;
        platform::Utf8ToCp1251(texts, converted);
        return converted;
    };

    out.U32(flags);
    out.FixedText(cp1251(row.Code), CodeWidth);
    out.FixedText(UnitText(row), UnitWidth);
    out.U32(row.PriceKop);
    if (flags & FlagTare) out.U32(row.TareGrams);
    out.U8(row.GoodsType);
    if (flags & FlagGroup) out.U16(row.GroupCode);
    if (flags & FlagCentering) out.U8(row.Centering);
    if (flags & FlagBestBefore) PutBestBefore(out, row.BestBefore);
    if (flags & FlagShelfLife) out.U32(row.ShelfLifeDays * MinutesPerDay);
    if (flags & FlagCertificate) out.FixedText(cp1251(row.Certificate), CertificateWidth);
    out.U8(row.BarcodePrefix);
    const std::size_t fixedLength = out.Size() - fixedAt;

    out.CountedText(cp1251(row.Name), NameLimit);
    out.CountedText(cp1251(row.Ingredients), IngredientsLimit);

    // R counts L's own byte, the fixed part and both counted texts.
    out.PatchU16(4, static_cast<std::uint16_t>(out.Size() - 6));
    out.PatchU8(6, static_cast<std::uint8_t>(fixedLength));
    out.AppendTo(file);
}

namespace {

// An unsigned 64-bit decimal, digits only; nothing when it does not read.
std::optional<std::uint64_t> ReadUInt64(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

std::uint64_t ItemNumber(const TMassaPluRow& row) {
    if (row.GoodsType == 1 && !row.InfoBarcode.empty()) return ReadUInt64(row.InfoBarcode).value_or(row.Plu);
    return row.Plu;
}

}  // namespace

void AppendPluRecord(TBytes& file, const TMassaPluRow& row) {
    std::uint8_t buffer[PluRecordSize];
    TRecordWriter out(buffer);
    out.U32(row.Id);
    out.U16(PluRecordTail);
    out.U48BigEndian(ItemNumber(row));
    out.U32(row.Id);
    out.FixedText(UnitText(row), UnitWidth);
    out.U32(PluUnitFactor);
    out.AppendTo(file);
}

namespace {

void AppendHeader(TBytes& out, int fileCode) {
    char header[32];
    const int length = std::snprintf(header, sizeof header, "%.2dPC%.10d", fileCode, 1);
    out.insert(out.end(), header, header + length);
}

}  // namespace

TBytes ScaleFileHeader(int fileCode) {
    TBytes header;
    AppendHeader(header, fileCode);
    return header;
}

TBytes BuildGoodsRecord(const TMassaPluRow& row) {
    TBytes record;
    AppendGoodsRecord(record, row);
    return record;
}

TBytes BuildPluRecord(const TMassaPluRow& row) {
    TBytes record;
    AppendPluRecord(record, row);
    return record;
}

TBytes BuildGoodsFile(const TMassaPluRows& rows) {
    // UTF-8 is never shorter than its 1251 form, so this bounds the file without a second pass.
    std::size_t bound = HeaderSize;
    for (const auto& row : rows) {
        bound += 7 + MaxFixedPart + 4 + std::min(row.Name.size(), NameLimit) +
                 std::min(row.Ingredients.size(), IngredientsLimit);
    }
    TBytes file;
    file.reserve(bound);
    AppendHeader(file, GoodsFileCode);
    for (const auto& row : rows) {
        AppendGoodsRecord(file, row);
    }
    return file;
}

TBytes BuildPluFile(const TMassaPluRows& rows) {
    TBytes file;
    file.reserve(HeaderSize + rows.size() * PluRecordSize);
    AppendHeader(file, PluFileCode);
    for (const auto& row : rows) {
        AppendPluRecord(file, row);
    }
    return file;
}

}  // namespace egaiss
