#include "common/instancetemp.h"
#include "common/stopsignals.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

// A program whose thread never looks at the stop signal it caught (a call that does not
// return) is ended by its deadline, as killed by the signal, its temporary folder gone.
// (One that ends by itself in time ends as it chooses: see the window's signal test.)
// The wait only tells a hang from an end.
TEST(StopDeadline, ASignalEndsEvenAProgramThatNeverLooks) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const bw::TStopDeadline deadline;
        const bw::TStopSignals signals;
        const std::string folder = bw::InstanceTemporaryFolder();
        [[maybe_unused]] const ssize_t n = write(ready[1], folder.data(), folder.size());
        for (;;)
            pause();
    }
    close(ready[1]);
    char folder[4096] = {};
    ASSERT_GT(read(ready[0], folder, sizeof folder - 1), 0);
    close(ready[0]);
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    const bool ended = bwtest::WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    ASSERT_TRUE(ended) << "still running 20 s after the signal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_FALSE(std::filesystem::exists(folder));
}
