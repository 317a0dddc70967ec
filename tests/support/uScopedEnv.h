#pragma once
// An environment variable set (or unset) for one test and restored afterwards, in the process
// environment that platform::EnvironmentVariable reads.
#include <optional>
#include <string>

namespace egaiss::test {

class TScopedEnv {
public:
    TScopedEnv(std::string name, const std::optional<std::string>& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string FName;
    std::optional<std::string> FOld;
};

// Per system: sets the variable, or removes it when `value` is empty.
void SetEnvironmentValue(const std::string& name, const std::optional<std::string>& value);

}  // namespace egaiss::test
