#include "platform/uSha256.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/uErrors.h"
#include "support/uTestDirs.h"

namespace egaiss::platform {
namespace {

TEST(Sha256Test, KnownDigestsInLowerCase) {
    EXPECT_EQ(Sha256Hex(std::string_view()),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256Test, IncrementalEqualsOneShotAndFinishStartsOver) {
    std::string data;
    for (int i = 0; i < 70000; ++i)
        data += static_cast<char>(i * 7);
    TSha256 hasher;
    for (std::size_t at = 0; at < data.size(); at += 4093)
        hasher.Update(std::string_view(data).substr(at, 4093));
    EXPECT_EQ(hasher.FinishHex(), Sha256Hex(data));
    hasher.Update("abc");
    EXPECT_EQ(hasher.FinishHex(), Sha256Hex("abc"));
}

TEST(Sha256Test, HashesFilesAndComparesEitherCase) {
    test::TTempDir dir;
    const std::string data(200000, '\x5A');
    test::WriteFileText(dir.File("payload.bin"), data);
    EXPECT_EQ(Sha256FileHex(dir.File("payload.bin")), Sha256Hex(data));
    EXPECT_THROW(Sha256FileHex(dir.File("missing.bin")), EFileError);

    EXPECT_TRUE(Sha256HexEquals("BA7816BF", "ba7816bf"));
    EXPECT_FALSE(Sha256HexEquals("ba7816bf", "ba7816be"));
    EXPECT_FALSE(Sha256HexEquals("ba7816bf", "ba7816bf0"));
}

}  // namespace
}  // namespace egaiss::platform
