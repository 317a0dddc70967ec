#pragma once
// The Windows tests also run under Wine, which has bugs of its own; a test steps around one only
// under Wine and names it in the skip message.

namespace egaiss::test {

bool RunningUnderWine();

inline constexpr const char* WineUdpLoopbackBug =
    "Wine 8.0 bug: UDP on a loopback address other than 127.0.0.1 sends from 127.0.0.1 and cannot share "
    "a port with another loopback address (plain Winsock shows the same)";
inline constexpr const char* WineChunkedEndBug =
    "Wine 8.0 bug: WinHTTP reports a chunked body cut off before its last chunk as complete, so the client "
    "cannot tell";

}  // namespace egaiss::test
