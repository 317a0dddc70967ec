#pragma once
// The agent log agent.log in the data folder: thread-safe, never raising, trimmed to one day.
#include <cstddef>
#include <exception>
#include <string>

namespace egaiss {

void LogInfo(const std::string& text);
void LogDebug(const std::string& text);
void LogError(const std::string& text);
void LogStep(const std::string& step, const std::string& detail = {});
// `error` may be null: the class name is then "nil" and the message empty.
void LogException(const std::string& context, const std::exception* error);
inline void LogException(const std::string& context, const std::exception& error) {
    LogException(context, &error);
}
void LogOut(const std::string& docType, const std::string& docId, const std::string& extra);
void LogIn(const std::string& docType, const std::string& docId);
void LogEnvironment();
void WriteLogLine(const std::string& text);

// The last lines of agent.log, each followed by CR LF; maxLines <= 0 means 200.
std::string ReadLogTail(int maxLines);
// The last lines of any text file, read backwards in blocks of `blockSize` bytes so that the cost
// follows the lines returned, not the file's size. Same result as decoding and splitting the whole
// file. Raises EFileError.
std::string ReadFileTail(const std::string& path, int maxLines,
                         std::size_t blockSize = std::size_t{64} * 1024);
void TrimLogFile();

std::string LogFilePath();
std::string CrashLogFilePath();

// Text and file utilities.
std::string ShortPathOf(const std::string& path);
// A new file path in the data folder: prefix + 8 hex digits + extension. The file is not created.
std::string MakeTempFilePath(const std::string& prefix, const std::string& extension);
// Writes the text's bytes (no byte-order mark), appending or replacing. Raises EFileError.
void WriteUtf8TextFile(const std::string& path, const std::string& text, bool append);

}  // namespace egaiss
