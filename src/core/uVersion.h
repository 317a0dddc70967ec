#pragma once

namespace egaiss {

// Logged at start, sent with every server ping and compared by the self-update.
inline constexpr const char* AgentVersion = "0.4.3";

}  // namespace egaiss
