#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/uEgaissConfig.h"
#include "platform/uPath.h"
#include "scales/uScalesConfig.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

std::string CrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\r\n";
    return text;
}

// The lines every save writes for a brand left at its defaults.
std::vector<std::string> DefaultBrandLines(const std::string& key, const std::string& file) {
    return {key + "_enabled=0", key + "_dir=c:\\kassa\\vesi", key + "_file=" + file, key + "_poll_seconds=3",
            key + "_count=0"};
}

std::vector<std::string> Concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

class TScalesConfigFile : public ::testing::Test {
protected:
    void WriteIni(const std::vector<std::string>& lines) {
        test::WriteFileText(FDir.File("agent.ini"), CrLf(lines));
    }
    std::string ReadIni() const { return test::ReadFileText(FDir.File("agent.ini")); }

    test::TTempDataDir FDir;
};

TEST_F(TScalesConfigFile, LegacyLinesLoadIntoMassaKAndSaveInCurrentForm) {
    WriteIni({"mac_addr=0a1b2c3d4e5f", "scales_enabled=1", "vesi_dir=D:\\ERP\\out", "vesi_poll_seconds=5",
              "scales_count=1", "scale_1=10.0.0.7:5001"});

    const TScalesConfig cfg = LoadScalesConfig();
    EXPECT_EQ(cfg.MacAddr, "0A1B2C3D4E5F");
    const TScaleBrandConfig& massa = cfg.Brands[sbMassaK];
    EXPECT_TRUE(massa.Enabled);
    EXPECT_EQ(massa.VesiDir, "D:\\ERP\\out");
    EXPECT_EQ(massa.ExpectFile, "massa_k*.csv");
    EXPECT_EQ(massa.PollSeconds, 5);
    EXPECT_EQ(massa.Scales, (std::vector<TScaleEndpoint>{{"10.0.0.7", 5001, "", true}}));
    for (int b = sbShtrih; b <= sbDigi; ++b)
        EXPECT_EQ(cfg.Brands[b], DefaultBrandConfig(b));

    SaveScalesConfig(cfg);
    const auto expected =
        Concat({{"mac_addr=0A1B2C3D4E5F", "massa_enabled=1", "massa_dir=D:\\ERP\\out",
                 "massa_file=massa_k*.csv", "massa_poll_seconds=5", "massa_count=1", "massa_0=10.0.0.7:5001"},
                DefaultBrandLines("shtrih", "shtrih*.txt"),
                DefaultBrandLines("cas", "cas*.csv"),
                DefaultBrandLines("digi", "digi*.csv")});
    EXPECT_EQ(ReadIni(), std::string(Bom) + CrLf(expected));
    EXPECT_EQ(LoadScalesConfig(), cfg);
}

TEST_F(TScalesConfigFile, CurrentScaleListReplacesLegacyList) {
    WriteIni({"scale_1=10.0.0.7", "massa_0=10.0.0.8:6000", "scale_2=10.0.0.9"});
    EXPECT_EQ(LoadScalesConfig().Brands[sbMassaK].Scales,
              (std::vector<TScaleEndpoint>{{"10.0.0.8", 6000, "", true}}));
}

TEST_F(TScalesConfigFile, SaveKeepsOtherLinesInPlaceAndPutsScaleLinesLast) {
    WriteIni({"# Velmora EGAIS agent settings", "server_url=https://example.invalid/api", "massa_enabled=1",
              "[scales]", "agent_id=A-1", "; note", "vesi_dir=D:\\old", "other_key=kept", "DIGI_0=10.0.0.5",
              "", "mac_addr=AABBCCDDEEFF", "autostart=1", "massa_search_subnets=127.0.0.40/29"});
    const TEgaissConfig agentBefore = LoadConfig();

    TScalesConfig cfg = LoadScalesConfig();
    cfg.Brands[sbCas].Scales.push_back(TScaleEndpoint::FromLine("10.0.0.6:5002:42:off"));
    SaveScalesConfig(cfg);

    const auto expected =
        Concat({{"# Velmora EGAIS agent settings", "server_url=https://example.invalid/api", "[scales]",
                 "agent_id=A-1", "; note", "other_key=kept", "", "autostart=1", "mac_addr=AABBCCDDEEFF",
                 "massa_enabled=1", "massa_dir=D:\\old", "massa_file=massa_k*.csv", "massa_poll_seconds=3",
                 "massa_search_subnets=127.0.0.40/29", "massa_count=0"},
                DefaultBrandLines("shtrih", "shtrih*.txt"),
                {"cas_enabled=0", "cas_dir=c:\\kassa\\vesi", "cas_file=cas*.csv", "cas_poll_seconds=3",
                 "cas_count=1", "cas_0=10.0.0.6:5002:42:off"},
                {"digi_enabled=0", "digi_dir=c:\\kassa\\vesi", "digi_file=digi*.csv", "digi_poll_seconds=3",
                 "digi_count=1", "digi_0=10.0.0.5:5001"}});
    EXPECT_EQ(ReadIni(), std::string(Bom) + CrLf(expected));
    EXPECT_EQ(LoadConfig(), agentBefore);

    // A second save of the same settings changes nothing.
    SaveScalesConfig(LoadScalesConfig());
    EXPECT_EQ(ReadIni(), std::string(Bom) + CrLf(expected));
}

TEST_F(TScalesConfigFile, SaveCreatesMissingFileForOwnerOnly) {
    TScalesConfig cfg;
    cfg.MacAddr = "a0b1c2d3e4f5";
    SaveScalesConfig(cfg);
    const std::string text = ReadIni();
    EXPECT_EQ(text.substr(0, Bom.size() + 23), std::string(Bom) + "mac_addr=A0B1C2D3E4F5\r\n");
    EXPECT_EQ(LoadScalesConfig(), (TScalesConfig{"A0B1C2D3E4F5", DefaultBrandConfigs()}));
#ifndef _WIN32
    const auto perms = std::filesystem::status(Utf8Path(FDir.File("agent.ini"))).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
}

TEST_F(TScalesConfigFile, LineBreaksInValuesCannotInjectLines) {
    TScalesConfig cfg;
    cfg.MacAddr = "AABBCCDDEEFF";
    cfg.Brands[sbMassaK].VesiDir = "D:\\in\r\nserver_url=http://evil.invalid";
    SaveScalesConfig(cfg);
    EXPECT_EQ(LoadConfig().ServerURL, "");
    EXPECT_EQ(LoadScalesConfig().Brands[sbMassaK].VesiDir, "D:\\inserver_url=http://evil.invalid");
}

TEST_F(TScalesConfigFile, EmptyFileGivesDefaultsAndDetectedMac) {
    const TScalesConfig cfg = LoadScalesConfig();
    EXPECT_EQ(cfg.Brands, DefaultBrandConfigs());
    EXPECT_EQ(cfg.MacAddr, DetectMacAddress());
}

TEST(ScalesConfigText, ReadsKeysInAnyCaseWithAlternateSuffixes) {
    const TScalesConfig cfg = ParseScalesConfigText(CrLf({
        "  MASSA_VESI_DIR = D:\\a ",
        "massa_expect_file=Prices.csv",
        "Cas_Poll=7",
        "cas_5=10.0.0.3",
        "cas_1x=10.0.0.1",  // any suffix starting with a digit is an endpoint
        "cas_5=10.0.0.2",   // repeated numbers keep file order
        "cas_x1=10.0.0.9",  // unknown suffix
        "cas_count=99",
        "cas_2=:5001",  // empty host
        "massa_=10.0.0.4",
        "shtrih_enabled=TRUE",
        "massa_enabled=yes",
        "mac_addr=aa-bb",
    }));
    EXPECT_EQ(cfg.Brands[sbMassaK].VesiDir, "D:\\a");
    EXPECT_EQ(cfg.Brands[sbMassaK].ExpectFile, "Prices.csv");
    EXPECT_FALSE(cfg.Brands[sbMassaK].Enabled);
    EXPECT_TRUE(cfg.Brands[sbMassaK].Scales.empty());
    EXPECT_TRUE(cfg.Brands[sbShtrih].Enabled);
    EXPECT_EQ(cfg.Brands[sbCas].PollSeconds, 7);
    std::vector<std::string> hosts;
    for (const auto& scale : cfg.Brands[sbCas].Scales)
        hosts.push_back(scale.Host);
    EXPECT_EQ(hosts, (std::vector<std::string>{"10.0.0.3", "10.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(cfg.MacAddr, "AA-BB");
}

TEST(ScalesConfigText, ClampsPollAndFillsBlankValues) {
    const TScalesConfig cfg = ParseScalesConfigText(CrLf({
        "massa_poll_seconds=0",
        "shtrih_poll_seconds=300",
        "cas_poll_seconds=abc",
        "digi_poll_seconds=-4",
        "massa_dir=   ",
        "massa_file=",
        "shtrih_file=x.txt",
        "vesi_poll_seconds=60",
    }));
    EXPECT_EQ(cfg.Brands[sbMassaK].PollSeconds, 60);
    EXPECT_EQ(cfg.Brands[sbShtrih].PollSeconds, 60);
    EXPECT_EQ(cfg.Brands[sbCas].PollSeconds, 3);
    EXPECT_EQ(cfg.Brands[sbDigi].PollSeconds, 3);
    EXPECT_EQ(cfg.Brands[sbMassaK].VesiDir, "c:\\kassa\\vesi");
    EXPECT_EQ(cfg.Brands[sbMassaK].ExpectFile, "massa_k*.csv");
    EXPECT_EQ(cfg.Brands[sbShtrih].ExpectFile, "x.txt");
    EXPECT_EQ(ParseScalesConfigText("massa_poll=0\r\n").Brands[sbMassaK].PollSeconds, 3);
}

TEST(ScaleEndpoint, ParsesTextForms) {
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7"), (TScaleEndpoint{"10.0.0.7", 5001, "", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:0"), (TScaleEndpoint{"10.0.0.7", 5001, "", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:-3"), (TScaleEndpoint{"10.0.0.7", 5001, "", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:abc"), (TScaleEndpoint{"10.0.0.7", 5001, "", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:70000"), (TScaleEndpoint{"10.0.0.7", 5001, "", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine(" scale-1 : 5002 : 123 : 456 "),
              (TScaleEndpoint{"scale-1", 5002, "123", true}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:5001:off:777"),
              (TScaleEndpoint{"10.0.0.7", 5001, "777", false}));
    EXPECT_EQ(TScaleEndpoint::FromLine("10.0.0.7:5001::OFF"), (TScaleEndpoint{"10.0.0.7", 5001, "", false}));
    EXPECT_EQ(TScaleEndpoint::FromLine(":5001").Host, "");
    EXPECT_EQ(TScaleEndpoint::FromLine("  \t"), (TScaleEndpoint{"", 5001, "", true}));
}

TEST(ScaleEndpoint, WritesTextFormThatReadsBack) {
    const std::vector<TScaleEndpoint> endpoints = {
        {"10.0.0.7", 5001, "", false}, {"10.0.0.8", 6000, "12345678", true}, {"host", 5001, "9", false}};
    EXPECT_EQ(endpoints[0].AsLine(), "10.0.0.7:5001:off");
    EXPECT_EQ(endpoints[1].AsLine(), "10.0.0.8:6000:12345678");
    EXPECT_EQ(endpoints[2].AsLine(), "host:5001:9:off");
    for (const auto& endpoint : endpoints)
        EXPECT_EQ(TScaleEndpoint::FromLine(endpoint.AsLine()), endpoint);
    EXPECT_EQ((TScaleEndpoint{" 10.0.0.9 ", 5001, "  ", true}.AsLine()), "10.0.0.9:5001");
}

TEST(ScaleBrands, NamesDefaultsAndSupport) {
    EXPECT_EQ(ScaleBrandKey(sbMassaK), "massa");
    EXPECT_EQ(ScaleBrandKey(sbDigi), "digi");
    EXPECT_EQ(ScaleBrandTitle(sbMassaK), "Масса-К");
    EXPECT_EQ(ScaleBrandTitle(sbShtrih), "Штрих");
    EXPECT_EQ(DefaultExpectFile(sbShtrih), "shtrih*.txt");
    for (int outside : {-1, 4}) {
        EXPECT_EQ(ScaleBrandKey(outside), "unknown");
        EXPECT_EQ(ScaleBrandTitle(outside), "?");
        EXPECT_EQ(DefaultExpectFile(outside), "");
        EXPECT_FALSE(IsBrandSupported(outside));
    }
    EXPECT_TRUE(IsBrandSupported(sbMassaK));
    EXPECT_FALSE(IsBrandSupported(sbCas));
    EXPECT_EQ(DefaultScalePort(sbDigi), 5001);
    const TScaleBrandConfig cas = DefaultBrandConfig(sbCas);
    EXPECT_EQ(cas, (TScaleBrandConfig{false, "c:\\kassa\\vesi", "cas*.csv", 3, {}, ""}));
}

TScaleBrandConfig ReadyBrand(bool enabled) {
    TScaleBrandConfig brand = DefaultBrandConfig(sbMassaK);
    brand.Enabled = enabled;
    brand.Scales = {{"10.0.0.7", 5001, "", true}};
    return brand;
}

TEST(ScaleBrandState, HintNamesTheFirstMissingStep) {
    TScaleBrandConfig brand = ReadyBrand(false);
    EXPECT_TRUE(IsBrandReady(brand));
    EXPECT_FALSE(IsBrandActive(brand));
    EXPECT_EQ(BrandHint(brand), "Enable brand checkbox or use Load now.");

    brand.Enabled = true;
    EXPECT_TRUE(IsBrandActive(brand));
    EXPECT_EQ(BrandHint(brand), "");

    brand.Scales = {{"10.0.0.7", 5001, "", false}, {"  ", 5001, "", true}};
    EXPECT_FALSE(HasEnabledScale(brand));
    EXPECT_FALSE(IsBrandActive(brand));
    EXPECT_EQ(BrandHint(brand), "Add or find scales on the network.");

    brand.ExpectFile = " ";
    EXPECT_EQ(BrandHint(brand), "Set expected file name or mask.");
    brand.VesiDir = "\t";
    EXPECT_EQ(BrandHint(brand), "Set scales folder path.");
    EXPECT_FALSE(IsBrandReady(brand));
}

TEST(ScaleBrandState, OnlySupportedBrandsCountAsActiveAndFirstActiveSetsPoll) {
    TScalesConfig cfg;
    EXPECT_FALSE(AnyBrandActive(cfg));
    EXPECT_EQ(ScalesPollSeconds(cfg), 3);

    cfg.Brands[sbShtrih] = ReadyBrand(true);
    cfg.Brands[sbShtrih].PollSeconds = 9;
    EXPECT_FALSE(AnyBrandActive(cfg));

    cfg.Brands[sbMassaK] = ReadyBrand(true);
    cfg.Brands[sbMassaK].PollSeconds = 5;
    EXPECT_TRUE(AnyBrandActive(cfg));
    EXPECT_EQ(ScalesPollSeconds(cfg), 5);

    cfg.Brands[sbMassaK].PollSeconds = 0;
    EXPECT_EQ(ScalesPollSeconds(cfg), 3);
}

TEST(ExpectFileMask, MatchesWildcardsIgnoringCase) {
    EXPECT_TRUE(MatchesExpectFile("C:\\in\\MASSA_K_20240101.CSV", "massa_k*.csv"));
    EXPECT_TRUE(MatchesExpectFile("/srv/drop/massa_k.csv", " massa_k*.csv "));
    EXPECT_FALSE(MatchesExpectFile("massa_k.csv.bak", "massa_k*.csv"));
    EXPECT_FALSE(MatchesExpectFile("C:\\massa_k\\x.csv", "massa_k*.csv"));
    EXPECT_TRUE(MatchesExpectFile("a.csv", "*"));
    EXPECT_TRUE(MatchesExpectFile("abcabd", "*ab?"));
    EXPECT_TRUE(MatchesExpectFile("aXbXc", "a*b*c"));
    EXPECT_FALSE(MatchesExpectFile("aXbX", "a*b*c"));
    EXPECT_TRUE(MatchesExpectFile("p1.csv", "p?.csv"));
    EXPECT_FALSE(MatchesExpectFile("p.csv", "p?.csv"));
    EXPECT_FALSE(MatchesExpectFile("p12.csv", "p?.csv"));
    EXPECT_TRUE(MatchesExpectFile("pЖ.csv", "p?.csv"));  // one character, two bytes
}

TEST(ExpectFileMask, MatchesBracketSets) {
    EXPECT_TRUE(MatchesExpectFile("price7.csv", "price[0-9]*"));
    EXPECT_FALSE(MatchesExpectFile("priceX.csv", "price[0-9]*"));
    EXPECT_TRUE(MatchesExpectFile("priceX.csv", "price[!0-9]*"));
    EXPECT_FALSE(MatchesExpectFile("price7.csv", "price[!0-9]*"));
    EXPECT_TRUE(MatchesExpectFile("PRICEB.csv", "price[abc]*"));
    EXPECT_TRUE(MatchesExpectFile("priceq.csv", "price[A-Z]*"));
    EXPECT_TRUE(MatchesExpectFile("price-.csv", "price[a-]*"));
    EXPECT_FALSE(MatchesExpectFile("price.csv", "price[]*"));
    EXPECT_TRUE(MatchesExpectFile("price[1.csv", "price[1*"));  // unclosed bracket stands for itself
}

TEST(ExpectFileMask, ExactNamesAndCyrillic) {
    EXPECT_TRUE(MatchesExpectFile("D:\\x\\PRICES.CSV", "prices.csv"));
    EXPECT_FALSE(MatchesExpectFile("prices.csv.tmp", "prices.csv"));
    EXPECT_TRUE(MatchesExpectFile("price[1].csv", "price[1].csv"));  // no wildcard: brackets are plain
    EXPECT_FALSE(MatchesExpectFile("prices.csv", "   "));
    EXPECT_TRUE(MatchesExpectFile("ЦЕНЫ_Ёлка.CSV", "цены_ёлка.csv"));
    EXPECT_TRUE(MatchesExpectFile("ВЕСЫ_1.csv", "весы_*.csv"));
    EXPECT_TRUE(MatchesExpectFile("Я.csv", "[а-я]*.csv"));
    EXPECT_FALSE(MatchesExpectFile("Ж.csv", "[!а-я]*"));
    EXPECT_FALSE(MatchesExpectFile("\xFF.csv", "\xFE.csv"));
}

platform::TNetAdapter Adapter(std::string name, TBytes mac, bool loopback = false) {
    platform::TNetAdapter adapter;
    adapter.Name = std::move(name);
    adapter.PhysicalAddress = std::move(mac);
    adapter.Loopback = loopback;
    return adapter;
}

TEST(MacAddress, FirstNonLoopbackAdapterWithSixBytesInSystemOrder) {
    const std::vector<platform::TNetAdapter> adapters = {
        Adapter("lo", {0, 0, 0, 0, 0, 0}, true),
        Adapter("tun0", {}),
        Adapter("sit0", {10, 0, 0, 1}),
        Adapter("eth1", {0x02, 0xfc, 0x00, 0xab, 0xcd, 0x0e}),
        Adapter("eth0", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}),
    };
    EXPECT_EQ(DetectMacAddress(adapters), "02FC00ABCD0E");
    EXPECT_EQ(DetectMacAddress({Adapter("ib0", {1, 2, 3, 4, 5, 6, 7, 8})}), "010203040506");
    EXPECT_EQ(DetectMacAddress({adapters[0], adapters[1], adapters[2]}), "");
    EXPECT_EQ(DetectMacAddress({}), "");
}

TEST(MacAddress, EnsureFillsOnlyBlankAddress) {
    TScalesConfig cfg;
    cfg.MacAddr = "001122334455";
    EXPECT_EQ(EnsureMacAddr(cfg), "001122334455");
    cfg.MacAddr = "  ";
    EXPECT_EQ(EnsureMacAddr(cfg), DetectMacAddress());
    EXPECT_EQ(cfg.MacAddr, DetectMacAddress());
}

}  // namespace
}  // namespace egaiss
