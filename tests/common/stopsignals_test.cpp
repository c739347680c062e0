#include "common/instancetemp.h"
#include "common/stopsignals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A program under a stop deadline, ended by SIGTERM: one that ends by itself soon after the
// signal ends as it chooses; one whose thread never looks at the signal (a call that does
// not return) is ended by the deadline, as killed by the signal, its temporary folder gone.
// The test waits up to 10 s only to tell a hang from an end.
TEST(StopDeadline, ASignalEndsEvenAProgramThatNeverLooks) {
    for (const bool deaf : {false, true}) {
        SCOPED_TRACE(deaf ? "deaf" : "ends by itself");
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            int status = 3;
            {
                const bw::TStopDeadline deadline;
                const bw::TStopSignals signals;
                const std::string folder = bw::InstanceTemporaryFolder();
                [[maybe_unused]] const ssize_t n = write(ready[1], folder.data(), folder.size());
                close(ready[1]);
                while (deaf || bw::TStopSignals::Received() == 0)
                    pause();
                status = 0;
            }
            _exit(status);
        }
        close(ready[1]);
        char folder[4096] = {};
        ASSERT_GT(read(ready[0], folder, sizeof folder - 1), 0);
        close(ready[0]);
        ASSERT_TRUE(std::filesystem::is_directory(folder));

        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
            usleep(10000);
        if (done == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            FAIL() << "still running 10 s after the signal";
        }
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), deaf ? 128 + SIGTERM : 0);
        if (deaf) {
            EXPECT_FALSE(std::filesystem::exists(folder));
        }
        std::filesystem::remove_all(folder);
    }
}

} // namespace
