#pragma once
// Facts about the running process and the machine, as the operating system tells them.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace egaiss::platform {

// Full path of the running executable (UTF-8); empty when the system cannot tell it.
std::string ExecutablePath();

// The value of an environment variable, or nothing when it is unset.
std::optional<std::string> EnvironmentVariable(const std::string& name);

std::string ComputerName();
std::string UserName();

// The user's temporary folder in its long form, without a trailing separator.
std::string TempFolder();

// The 8.3 short form of an existing path where the file system keeps one; else the path itself.
std::string ShortPath(const std::string& path);

struct TCodePages {
    int Ansi = 0;
    int Oem = 0;
    int Default8Bit = 0;  // the code page the agent uses for 8-bit text
};
TCodePages SystemCodePages();

// The process's whole command line as one text.
std::string CommandLine();

// The arguments after the program's name, in UTF-8. POSIX passes main()'s own through; Windows
// splits its UTF-16 command line instead, since main()'s are in the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

std::uint32_t ProcessId();

// The local calendar time of a moment, by the system's time-zone rules.
std::tm LocalTime(std::time_t when);

// Milliseconds on a monotonic clock, wrapping at 32 bits like a tick count.
std::uint32_t TickCountMs();

}  // namespace egaiss::platform
