#pragma once
// Unix-domain stream sockets named by a path, the way a running agent and a later start of it on
// the same data folder talk. Only the user who runs the listening agent is served.
#include <chrono>
#include <optional>
#include <string>

#include "platform/uPosixFd.h"

namespace egaiss::platform {

// One connection; every wait is bounded.
class TLocalConnection {
public:
    explicit TLocalConnection(TUniqueFd socket) : FSocket(std::move(socket)) {}

    bool WriteByte(char byte, std::chrono::milliseconds timeout);
    // Nothing when the peer closed, failed or said nothing within `timeout`.
    std::optional<char> ReadByte(std::chrono::milliseconds timeout);

private:
    TUniqueFd FSocket;
};

// Nothing when nobody listens at `path` or the connection is not made within `timeout`.
std::optional<TLocalConnection> ConnectLocalSocket(const std::string& path,
                                                   std::chrono::milliseconds timeout);

class TLocalSocketServer {
public:
    // Listens at `path`, readable and writable by this user alone, in place of a socket left there
    // by an ended process. Raises EAgentError when it cannot.
    explicit TLocalSocketServer(std::string path);
    // Removes the path.
    ~TLocalSocketServer();
    TLocalSocketServer(const TLocalSocketServer&) = delete;
    TLocalSocketServer& operator=(const TLocalSocketServer&) = delete;

    // Waits for the next connection from this user (others are closed unheard); nothing once Stop
    // was called.
    std::optional<TLocalConnection> Accept();
    // Ends a waiting Accept and every later one; any thread may call it.
    void Stop();

private:
    std::string FPath;
    TUniqueFd FListener;
    TUniqueFd FWakeRead;  // a pipe whose write end Stop closes
    TUniqueFd FWakeWrite;
};

}  // namespace egaiss::platform
