#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <future>

#include "agent/uLocalSocketChannel.h"
#include "agent/uPortableLoop.h"
#include "support/uTestDirs.h"

namespace egaiss {
namespace {

using namespace std::chrono_literals;

// The asking side blocks until the running agent's loop answered, so it asks from a thread of its
// own while the test runs the loop.
bool AskWhileLooping(TPortableLoop& loop, bool (TLocalSocketChannel::*ask)(), TLocalSocketChannel& asker) {
    auto answer = std::async(std::launch::async, [&] { return (asker.*ask)(); });
    loop.RunUntil([&] { return answer.wait_for(0ms) == std::future_status::ready; }, 5s);
    return answer.get();
}

TEST(LocalSocketChannelTest, RequestsRunOnTheLoopAndAreAnsweredOnlyWhileListening) {
    const test::TTempDir dir;
    const std::string path = dir.File("channel");
    TPortableLoop loop;
    TLocalSocketChannel asker(loop, path);
    EXPECT_FALSE(asker.AskRunningAgentToShow());  // nobody listens

    // A socket file left by an agent that was killed is taken over.
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(stale);
    }
    TLocalSocketChannel running(loop, path);
    int shown = 0;
    int exits = 0;
    ASSERT_TRUE(running.Listen([&] { ++shown; },
                               [&] {
                                   ++exits;
                                   running.Close();  // as the agent does when it ends
                               }));
    EXPECT_TRUE(AskWhileLooping(loop, &TLocalSocketChannel::AskRunningAgentToShow, asker));
    EXPECT_TRUE(AskWhileLooping(loop, &TLocalSocketChannel::AskRunningAgentToShow, asker));
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(AskWhileLooping(loop, &TLocalSocketChannel::AskRunningAgentToExit, asker));
    EXPECT_EQ(exits, 1);
    // Closed: no answer, and the socket is gone.
    EXPECT_FALSE(AskWhileLooping(loop, &TLocalSocketChannel::AskRunningAgentToShow, asker));
    EXPECT_EQ(shown, 2);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace egaiss
