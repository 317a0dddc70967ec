#include "platform/uSystemFacts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <filesystem>

#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

void WriteScript(const std::string& path, const std::string& text) {
    test::WriteFileText(path, text);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

std::size_t LineCount(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) return 0;
    const std::string text = test::ReadFileText(path);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(DpkgStatusTest, ListsInstalledPackagesWithTheirMaintainer) {
    test::TTempDir dir;
    const std::string status = dir.File("status");
    test::WriteFileText(status,
                        "Package: openjdk-8-jre\n"
                        "Status: install ok installed\n"
                        "Maintainer: OpenJDK Team <openjdk@example.org>\n"
                        "Description: Java runtime\n"
                        " Package: not-a-field\n"
                        "\n"
                        "Package: removed-tool\n"
                        "Status: deinstall ok config-files\n"
                        "Maintainer: Someone\n"
                        "\r\n"
                        "package: utm-transport\r\n"
                        "status: install ok installed\r\n"
                        "\n\n"
                        "Package: no-maintainer\n"
                        "Status: install ok installed");
    TSystemFactsOptions options;
    options.DpkgStatusPath = status;
    const auto facts = NewSystemFacts(options);
    EXPECT_THAT(
        facts->InstalledPrograms(TProgramSource::psMachine),
        ElementsAre(TInstalledProgram{"openjdk-8-jre", "OpenJDK Team <openjdk@example.org>", ""},
                    TInstalledProgram{"utm-transport", "", ""}, TInstalledProgram{"no-maintainer", "", ""}));
    EXPECT_TRUE(facts->InstalledPrograms(TProgramSource::psMachine32).empty());
    EXPECT_TRUE(facts->InstalledPrograms(TProgramSource::psUser).empty());

    options.DpkgStatusPath = dir.File("missing");
    EXPECT_TRUE(NewSystemFacts(options)->InstalledPrograms(TProgramSource::psMachine).empty());
}

TEST(SystemdExecPathTest, TakesThePathPartOfExecStart) {
    EXPECT_EQ(
        ParseSystemdExecPath("{ path=/opt/utm/bin/transporter ; argv[]=/opt/utm/bin/transporter -d ; }"),
        "/opt/utm/bin/transporter");
    EXPECT_EQ(ParseSystemdExecPath(""), "");
    EXPECT_EQ(ParseSystemdExecPath("{ argv[]=/bin/x }"), "");
}

// A stand-in for systemctl that answers from canned text and records how it was called.
class FakeSystemctlTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteScript(FDir.File("systemctl"), R"(#!/bin/sh
echo "$*" >> "$(dirname "$0")/calls"
# With a "down" file the unit files can be listed but the manager cannot be asked, as in a container.
if [ -e "$(dirname "$0")/down" ]; then case "$*" in *show*) exit 1 ;; esac; fi
case "$*" in
  *list-units*)
    printf 'utm.service loaded active running UTM\n\342\227\217 ghost.service not-found inactive dead ghost\n'
    printf 'cron.service loaded inactive dead Cron\n' ;;
  *list-unit-files*)
    printf 'utm.service enabled enabled\nutm-updater.service disabled enabled\ngetty@.service static -\n' ;;
  *"show --property=Id,ExecStart"*)
    printf 'Id=utm.service\nExecStart={ path=/opt/utm/bin/transporter ; argv[]=/opt/utm/bin/transporter -d ; }\n\n'
    printf 'Id=cron.service\nExecStart={ path=/usr/sbin/cron ; argv[]=/usr/sbin/cron -f ; }\n\nId=utm-updater.service\n' ;;
  *"show --property=LoadState,ActiveState -- utm.service"*) printf 'LoadState=loaded\nActiveState=active\n' ;;
  *"show --property=LoadState,ActiveState -- cron.service"*) printf 'LoadState=loaded\nActiveState=failed\n' ;;
  *"show --property=LoadState,ActiveState -- slow.service"*) printf 'LoadState=loaded\nActiveState=activating\n' ;;
  *"show --property=LoadState,ActiveState"*) printf 'LoadState=not-found\nActiveState=inactive\n' ;;
  *"start --no-block --no-ask-password -- cron.service"*) exit 0 ;;
  *start*) echo "Failed to start x.service: Access denied" >&2; exit 4 ;;
  *) echo "unexpected call" >&2; exit 1 ;;
esac
)");
        FOptions.SystemctlProgram = FDir.File("systemctl");
    }

    std::size_t Calls() const { return LineCount(FDir.File("calls")); }

    test::TTempDir FDir;
    TSystemFactsOptions FOptions;
};

TEST_F(FakeSystemctlTest, ListsLoadedAndInstalledServicesOnceWithTheirPrograms) {
    const auto facts = NewSystemFacts(FOptions);
    EXPECT_THAT(facts->ServiceNames(), ElementsAre("utm", "cron", "utm-updater"));
    const std::size_t afterListing = Calls();
    EXPECT_EQ(facts->ServiceImagePath("utm"), "/opt/utm/bin/transporter");
    EXPECT_EQ(facts->ServiceImagePath("cron"), "/usr/sbin/cron");
    EXPECT_EQ(facts->ServiceImagePath("utm-updater"), "");
    EXPECT_EQ(Calls(), afterListing) << "image paths come from the listing";
}

TEST_F(FakeSystemctlTest, UnreachableManagerIsNotAskedUnitByUnit) {
    test::WriteFileText(FDir.File("down"), "");
    const auto facts = NewSystemFacts(FOptions);
    EXPECT_THAT(facts->ServiceNames(), ElementsAre("utm", "cron", "utm-updater"));
    const std::size_t afterListing = Calls();
    EXPECT_EQ(facts->ServiceImagePath("utm"), "");
    EXPECT_EQ(facts->ServiceImagePath("cron"), "");
    EXPECT_EQ(Calls(), afterListing);
    EXPECT_EQ(facts->ServiceState("utm"), std::nullopt);
}

TEST_F(FakeSystemctlTest, MapsUnitStatesAndStartRequests) {
    const auto facts = NewSystemFacts(FOptions);
    EXPECT_EQ(facts->ServiceState("utm"), ServiceRunning);
    EXPECT_EQ(facts->ServiceState("cron.service"), ServiceStopped);
    EXPECT_EQ(facts->ServiceState("slow"), ServiceStartPending);
    EXPECT_EQ(facts->ServiceState("ghost"), std::nullopt);

    EXPECT_EQ(facts->RequestServiceStart("utm").Outcome, TServiceStart::ssAlreadyRunning);
    EXPECT_EQ(facts->RequestServiceStart("cron").Outcome, TServiceStart::ssAccepted);
    const TServiceStartResult refused = facts->RequestServiceStart("x");
    EXPECT_EQ(refused.Outcome, TServiceStart::ssFailed);
    EXPECT_EQ(refused.Reason, "Failed to start x.service: Access denied");
}

TEST(SystemFactsTest, MissingSystemctlMeansNoServices) {
    TSystemFactsOptions options;
    options.SystemctlProgram = "/nonexistent/systemctl";
    const auto facts = NewSystemFacts(options);
    EXPECT_TRUE(facts->ServiceNames().empty());
    EXPECT_EQ(facts->ServiceImagePath("utm"), "");
    EXPECT_EQ(facts->ServiceState("utm"), std::nullopt);
    const TServiceStartResult start = facts->RequestServiceStart("utm");
    EXPECT_EQ(start.Outcome, TServiceStart::ssFailed);
    EXPECT_THAT(start.Reason, HasSubstr("/nonexistent/systemctl"));
}

TEST(SystemFactsTest, RunsJavaVersionWithABoundedWait) {
    test::TTempDir dir;
    WriteScript(dir.File("java"), "#!/bin/sh\necho \"$1\"\necho 'openjdk version \"1.8.0_392\"' >&2\n");
    WriteScript(dir.File("hung-java"), "#!/bin/sh\necho partial\nexec sleep 30\n");
    TSystemFactsOptions options;
    options.ProgramTimeout = 300ms;
    const auto facts = NewSystemFacts(options);

    EXPECT_EQ(facts->JavaProgramName(), "java");
    EXPECT_EQ(facts->RunJavaVersion(dir.File("java")), "-version\nopenjdk version \"1.8.0_392\"\n");
    EXPECT_EQ(facts->RunJavaVersion(dir.File("hung-java")), "partial\n");
    EXPECT_EQ(facts->RunJavaVersion(dir.File("missing-java")), std::nullopt);
    EXPECT_THAT(facts->JavaSearchFolders(), ElementsAre("/usr/lib/jvm", "/opt", "/usr/local"));
    EXPECT_TRUE(facts->JavaRegistryEntries().empty());
}

TEST(SystemFactsTest, FindsFilesByExactNameBelowAFolder) {
    test::TTempDir dir;
    for (const char* file : {"jdk8/bin/java", "jdk8/bin/javac", "deep/a/b/c/java", "Java"}) {
        test::WriteFileText(dir.File(file), "x");
    }
    std::filesystem::create_directories(dir.File("folder/java"));
    std::filesystem::create_directory_symlink(dir.File("jdk8"), dir.File("link-to-jdk8"));

    const auto facts = NewSystemFacts();
    EXPECT_THAT(facts->FindFiles(dir.Path(), "java"),
                UnorderedElementsAre(dir.File("jdk8/bin/java"), dir.File("deep/a/b/c/java")));
    EXPECT_TRUE(facts->FindFiles(dir.File("missing"), "java").empty());
    EXPECT_TRUE(facts->FileExists(dir.File("jdk8/bin/java")));
    EXPECT_FALSE(facts->FileExists(dir.File("jdk8")));
    EXPECT_TRUE(facts->FolderExists(dir.File("jdk8")));
    EXPECT_FALSE(facts->FolderExists(""));
}

TEST(SystemFactsTest, ReportsTheNativeArchitectureAndEnvironment) {
    utsname names{};
    ASSERT_EQ(::uname(&names), 0);
    const auto facts = NewSystemFacts();
    const std::string machine = names.machine;
    const TCpuArchitecture expected = machine == "x86_64" ? TCpuArchitecture::caX64
                                      : machine == "i686" ? TCpuArchitecture::caX86
                                                          : TCpuArchitecture::caOther;
    EXPECT_EQ(facts->NativeArchitecture(), expected);
    EXPECT_EQ(facts->EnvironmentVariable("EGAISS_SURELY_UNSET_VARIABLE"), std::nullopt);
    EXPECT_TRUE(facts->EnvironmentVariable("PATH").has_value());
}

}  // namespace
}  // namespace egaiss::platform
