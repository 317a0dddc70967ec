#include "support/uScopedEnv.h"

#include <utility>

#include "platform/uSystem.h"

namespace egaiss::test {

TScopedEnv::TScopedEnv(std::string name, const std::optional<std::string>& value)
    : FName(std::move(name)), FOld(platform::EnvironmentVariable(FName)) {
    SetEnvironmentValue(FName, value);
}

TScopedEnv::~TScopedEnv() {
    SetEnvironmentValue(FName, FOld);
}

}  // namespace egaiss::test
