#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/uSystem.h"
#include "platform/uSystemFacts.h"
#include "platform/uWin32Text.h"
#include "support/uTestChild.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// A subkey of the current user's Uninstall key, removed again when the test ends.
class TUninstallEntry {
public:
    TUninstallEntry(const std::wstring& name, const TInstalledProgram& program)
        : FPath(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + name) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, FPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            throw std::runtime_error("cannot create the test key");
        }
        Set(key, L"DisplayName", program.DisplayName);
        Set(key, L"Publisher", program.Publisher);
        Set(key, L"InstallLocation", program.InstallLocation);
        RegCloseKey(key);
    }
    ~TUninstallEntry() { RegDeleteTreeW(HKEY_CURRENT_USER, FPath.c_str()); }

private:
    static void Set(HKEY key, const wchar_t* name, const std::string& value) {
        const std::wstring wide = Utf8ToWide(value);
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring FPath;
};

TEST(SystemFactsWin32Test, ReadsUninstallEntriesWithUtf8Names) {
    const TInstalledProgram program{"\xD0\xA3\xD0\xA2\xD0\x9C transport", "\xD0\xA6\xD0\xA0\xD0\xA4",
                                    "C:\\\xD0\xA3\xD0\xA2\xD0\x9C\\"};
    const TUninstallEntry entry(L"EgaissTest" + std::to_wstring(ProcessId()), program);
    EXPECT_THAT(NewSystemFacts()->InstalledPrograms(TProgramSource::psUser), Contains(program));
}

TEST(SystemFactsWin32Test, QueriesServicesOfTheServiceManager) {
    const auto facts = NewSystemFacts();
    const auto names = facts->ServiceNames();
    ASSERT_FALSE(names.empty());
    EXPECT_TRUE(facts->ServiceState(names.front()));
    EXPECT_FALSE(facts->ServiceState("egaiss-no-such-service"));
    EXPECT_EQ(facts->ServiceImagePath("egaiss-no-such-service"), "");
    EXPECT_EQ(facts->RequestServiceStart("egaiss-no-such-service").Outcome, TServiceStart::ssFailed);
}

TEST(SystemFactsWin32Test, RunsJavaVersionAndFindsFilesWithoutCase) {
    const auto facts = NewSystemFacts();
    EXPECT_THAT(facts->RunJavaVersion(test::TestChildPath()).value_or(""),
                HasSubstr("java version \"1.8.0_392\""));
    EXPECT_FALSE(facts->RunJavaVersion(test::TestChildPath() + ".missing"));
    EXPECT_EQ(facts->JavaProgramName(), "java.exe");

    test::TTempDir dir;
    for (const char* file : {"jdk8/bin/java.exe", "deep/a/JAVA.EXE", "deep/javaw.exe"})
        test::WriteFileText(dir.File(file), "");
    EXPECT_THAT(facts->FindFiles(dir.Path(), "Java.exe"),
                UnorderedElementsAre(dir.File("jdk8\\bin\\java.exe"), dir.File("deep\\a\\JAVA.EXE")));
}

}  // namespace
}  // namespace egaiss::platform
