// The best-before date and the price of a price-file row. A date that parses, printed in full,
// reads back as the same moment.
#include <chrono>
#include <cstdio>

#include "scales/uPriceFile.h"
#include "uFuzzSupport.h"

using namespace egaiss;

namespace {

std::string FullDateText(std::chrono::local_seconds moment) {
    using namespace std::chrono;
    const local_days days = floor<std::chrono::days>(moment);
    const year_month_day date{days};
    const hh_mm_ss time{moment - days};
    char text[48];
    std::snprintf(text, sizeof text, "%02u.%02u.%04d %02d:%02d:%02d", static_cast<unsigned>(date.day()),
                  static_cast<unsigned>(date.month()), static_cast<int>(date.year()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = fuzz::AsString(data, size);
    ParsePriceKop(text);
    std::chrono::local_seconds moment{};
    if (!ParseBestBefore(text, moment)) return 0;
    const std::string printed = FullDateText(moment);
    std::chrono::local_seconds again{};
    fuzz::Require(ParseBestBefore(printed, again) && again == moment,
                  "ParseBestBefore: " + printed + " reads back differently");
    return 0;
}
