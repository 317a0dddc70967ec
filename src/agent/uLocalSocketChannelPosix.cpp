#include "agent/uLocalSocketChannel.h"

#include <filesystem>
#include <functional>
#include <utility>

#include "core/uEgaissLog.h"
#include "platform/uLocalSocketPosix.h"
#include "platform/uPath.h"
#include "platform/uSha256.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

constexpr auto AnswerTimeout = 1000ms;
constexpr char ShowRequest = 'S';
constexpr char ExitRequest = 'X';
// The running agent's answer once it did what was asked. Without it the connection proves nothing:
// an ending agent's socket may still take connections that nobody will serve.
constexpr char DoneReply = '1';

}  // namespace

// Read and changed on the loop's thread only.
struct TLocalSocketChannel::THandlers {
    std::function<void()> Show;
    std::function<void()> Exit;
};

std::string InstanceChannelPath(const std::string& dataDir) {
    platform::TSha256 digest;
    digest.Update(dataDir);
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    const std::string name = "VelmoraEgaissAgent-" + digest.FinishHex().substr(0, 16);
    return PathUtf8((error ? std::filesystem::path("/tmp") : folder) / name);
}

TLocalSocketChannel::TLocalSocketChannel(TMainLoop& loop, std::string path)
    : FLoop(loop), FPath(std::move(path)), FHandlers(std::make_shared<THandlers>()) {}

TLocalSocketChannel::~TLocalSocketChannel() {
    Close();
}

bool TLocalSocketChannel::AskRunningAgentToShow() {
    return Ask(ShowRequest);
}

bool TLocalSocketChannel::AskRunningAgentToExit() {
    return Ask(ExitRequest);
}

bool TLocalSocketChannel::Ask(char request) const {
    auto connection = platform::ConnectLocalSocket(FPath, AnswerTimeout);
    return connection && connection->WriteByte(request, AnswerTimeout) &&
           connection->ReadByte(AnswerTimeout) == DoneReply;
}

bool TLocalSocketChannel::Listen(std::function<void()> show, std::function<void()> exit) {
    Close();
    try {
        FServer = std::make_unique<platform::TLocalSocketServer>(FPath);
    } catch (const std::exception& error) {
        LogError(std::string("Agent window channel: ") + error.what());
        return false;
    }
    FHandlers = std::make_shared<THandlers>(THandlers{std::move(show), std::move(exit)});
    FListener = std::thread([this, server = FServer.get(), handlers = std::weak_ptr(FHandlers)] {
        while (auto connection = server->Accept()) {
            const auto request = connection->ReadByte(AnswerTimeout);
            if (request != ShowRequest && request != ExitRequest) continue;
            // Answered on the loop, after the handler ran; a channel closed meanwhile answers nothing.
            auto peer = std::make_shared<platform::TLocalConnection>(std::move(*connection));
            FLoop.Post([handlers, peer, exit = request == ExitRequest] {
                const auto current = handlers.lock();
                if (!current) return;
                // A copy: the handler may close the channel.
                const std::function<void()> handler = exit ? current->Exit : current->Show;
                if (!handler) return;
                handler();
                peer->WriteByte(DoneReply, AnswerTimeout);
            });
        }
    });
    return true;
}

void TLocalSocketChannel::Close() {
    FHandlers.reset();
    if (FServer) FServer->Stop();
    if (FListener.joinable()) FListener.join();
    FServer.reset();
}

}  // namespace egaiss
