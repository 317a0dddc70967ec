#include "prepare/uPrepareCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using ::testing::ElementsAre;

TJsonValue Json(const std::string& text) {
    auto parsed = ParseJson(text);
    if (!parsed) throw std::runtime_error("test JSON does not parse: " + text);
    return std::move(*parsed);
}

TEST(PrepareCheckTest, RowsKeepManifestOrderAndAComponentThatCannotBeCheckedFailsAlone) {
    test::TTempDataDir dir;
    const TJsonValue components = Json(R"([
        {"id":"a","order":7,"check":{"type":"x"}},
        42,
        {"title":"B","required":"false","check":{"type":"x"}},
        {"order":1,"check":{"type":"x"}},
        {"id":"d","check":{}}])");
    const auto rows = RunComponentChecks(&components, TEgaissConfig{},
                                         [](const TJsonValue& component, const TEgaissConfig&) {
                                             if (component.Find("check")->Find("type") == nullptr)
                                                 return RunEnvCheck(component, TEgaissConfig{});
                                             return TEnvCheckResult::Warn("line one\r\nline two\nthree");
                                         });
    std::vector<std::string> lines;
    for (const auto& row : rows)
        lines.push_back(ComponentCheckLine(row));
    EXPECT_THAT(
        lines,
        ElementsAre("7 [WARN] a - line one | line two | three", "3 [WARN] B - line one | line two | three",
                    "1 [FAIL]  - Value 'id' not found", "5 [FAIL] d - Value 'type' not found"));
    EXPECT_TRUE(AnyRequiredCheckFailed(rows));
    EXPECT_FALSE(rows[1].Required);
    EXPECT_FALSE(AnyRequiredCheckFailed({rows[0], rows[1]}));

    EXPECT_TRUE(RunComponentChecks(nullptr, TEgaissConfig{}).empty());
}

}  // namespace
}  // namespace egaiss
