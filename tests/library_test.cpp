// The four exported operations, end to end against the simulated machine.
#include "QUORVEL.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

using quorvel::test::SimMachine;
using Log = std::vector<std::string>;

// What the library printed while call ran.
std::string output_of(const std::function<void()> &call)
{
    std::fflush(stdout);
    ::testing::internal::CaptureStdout();
    call();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

class Library : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QUORVEL_SIM_DIR", machine.dir.path().c_str(), 1); }
    void TearDown() override
    {
        QUORVEL_CLOSE();
        unsetenv("QUORVEL_SIM_DIR");
    }

    // QUORVEL_INIT's result, with what it printed; init_error is the last
    // error (errno here) it left.
    static std::pair<int, std::string> init()
    {
        int result = 0;
        std::string printed = output_of([&] {
            result = QUORVEL_INIT();
            init_error = errno;
        });
        return {result, printed};
    }
    static inline int init_error = 0;

    SimMachine machine;
};

TEST_F(Library, OpensTheLowestPortAndSendsTheExactRequests)
{
    machine.install_board({7, 3, 12, 4});
    ASSERT_EQ(init(), std::make_pair(0, std::string()));

    unsigned char value = 0;
    const std::string printed = output_of([&] {
        EXPECT_EQ(QUORVEL_WRITE(0x13, 0xC0), 0);
        EXPECT_EQ(QUORVEL_WRITE(0x110, 0x1C5), 0); // only the low bytes travel
        EXPECT_EQ(QUORVEL_READ(0x10, &value), 0);
        EXPECT_NE(QUORVEL_CLOSE(), 0);
    });

    EXPECT_EQ(printed, "");
    EXPECT_EQ(value, 0xC5);
    EXPECT_EQ(machine.reg(3, 0x13), 0xC0);
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 80052038 13c0 0 ok", "COM3 80052038 10c5 0 ok",
                                  "COM3 80052034 10 1 ok", "COM3 close"}));
}

TEST_F(Library, OpensPortsOfAnyNumberOfDigits)
{
    for (const auto &[ports, opened] : std::vector<std::pair<std::vector<int>, std::string>>{
             {{9, 10, 11, 12}, "COM9"}, {{123, 124, 125, 126}, "COM123"}, {{5, 100, 42, 17}, "COM5"}}) {
        SimMachine board;
        board.install_board(ports);
        setenv("QUORVEL_SIM_DIR", board.dir.path().c_str(), 1);
        EXPECT_EQ(init().first, 0) << opened;
        EXPECT_NE(QUORVEL_CLOSE(), 0);
        EXPECT_EQ(board.log(), (Log{opened + " open", opened + " close"}));
    }
}

// Windows' codes, which the library leaves in the thread's last error.
constexpr int error_file_not_found = 2;
constexpr int error_invalid_handle = 6;
constexpr int error_invalid_data = 13;
constexpr int error_invalid_parameter = 87;
constexpr int error_io_device = 1117;

struct InitFailure {
    const char *situation;
    std::function<void(const SimMachine &)> arrange;
    const char *message;
    int error;
};

TEST_F(Library, InitFailuresPrintTheirMessageAndOpenNothing)
{
    const std::vector<InitFailure> cases = {
        {"no serial-port map", [](const SimMachine &) {}, "Driver is not installed\n", error_file_not_found},
        {"fourth entry missing",
         [](const SimMachine &m) {
             m.install_board({3, 4, 5});
         },
         "Driver is not installed\n", error_file_not_found},
        {"entry not a COM port",
         [](const SimMachine &m) {
             m.install_board({3, 4, 5, 6});
             m.dir.write("SERIALCOMM", "\\Device\\ser15x0=COM3\n\\Device\\ser15x1=COM\n"
                                       "\\Device\\ser15x2=COM5\n\\Device\\ser15x3=COM6\n");
         },
         "Driver is not installed\n", error_invalid_data},
        {"port number zero",
         [](const SimMachine &m) {
             m.install_board({0, 4, 5, 6});
         },
         "Driver is not installed\n", error_invalid_data},
        {"open refused",
         [](const SimMachine &m) {
             m.install_board({3, 4, 5, 6});
             m.dir.write("faults", "open\n");
         },
         "Cannot open the file handle\n", error_file_not_found},
        {"port device missing",
         [](const SimMachine &m) {
             m.install_board({3, 4, 5, 6});
             std::filesystem::remove(m.dir.path() / "COM3");
         },
         "Cannot open the file handle\n", error_file_not_found},
    };
    for (const auto &failure : cases) {
        SimMachine board;
        failure.arrange(board);
        setenv("QUORVEL_SIM_DIR", board.dir.path().c_str(), 1);
        EXPECT_EQ(init(), std::make_pair(-1, std::string(failure.message))) << failure.situation;
        EXPECT_EQ(init_error, failure.error) << failure.situation << ": the last error, kept across the message";
        EXPECT_EQ(QUORVEL_CLOSE(), 0) << failure.situation;
        EXPECT_EQ(board.log(), Log{}) << failure.situation;
    }
}

TEST_F(Library, NoSimulatedMachineMeansNoDriver)
{
    for (const char *directory : {"", "/nonexistent/quorvel"}) {
        setenv("QUORVEL_SIM_DIR", directory, 1);
        EXPECT_EQ(init(), std::make_pair(-1, std::string("Driver is not installed\n")));
    }
    unsetenv("QUORVEL_SIM_DIR");
    EXPECT_EQ(init(), std::make_pair(-1, std::string("Driver is not installed\n")));
}

TEST_F(Library, RejectedRequestsPrintTheirMessageWithoutALineFeed)
{
    machine.install_board({3, 4, 5, 6});
    // Register 0x11's read is accepted but returns no byte: nothing was read.
    machine.dir.write("faults", "write 13\nread 10\nread-empty 11\n");
    ASSERT_EQ(init().first, 0);
    unsigned char value = 0x5A;
    // Each failure leaves its code in the last error, past its message.
    int error = 0;
    EXPECT_EQ(output_of([&] {
                  EXPECT_EQ(QUORVEL_WRITE(0x13, 0xC0), -1);
                  error = errno;
              }),
              "Error in Writing...!");
    EXPECT_EQ(error, error_io_device) << "the driver's code for a rejected write";
    EXPECT_EQ(output_of([&] {
                  EXPECT_EQ(QUORVEL_READ(0x10, &value), -1);
                  error = errno;
              }),
              "Error in Reading...!");
    EXPECT_EQ(error, error_io_device) << "the driver's code for a rejected read";
    EXPECT_EQ(output_of([] { EXPECT_EQ(QUORVEL_WRITE(0x11, 0x77), 0); }), "");
    EXPECT_EQ(output_of([&] {
                  EXPECT_EQ(QUORVEL_READ(0x11, &value), -1);
                  error = errno;
              }),
              "Error in Reading...!");
    EXPECT_EQ(error, error_invalid_data) << "a read answered without a byte";
    EXPECT_EQ(value, 0x5A) << "a failed read leaves the caller's byte as it was";
    EXPECT_EQ(output_of([] { EXPECT_EQ(QUORVEL_WRITE(0x10, 0x31), 0); }), "");
    EXPECT_EQ(machine.reg(3, 0x13), 0);
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 80052038 13c0 0 fail", "COM3 80052034 10 1 fail",
                                  "COM3 80052038 1177 0 ok", "COM3 80052034 11 1 ok", "COM3 80052038 1031 0 ok"}));
}

TEST_F(Library, MessagesAreOutBeforeTheHostEndsAbruptly)
{
    machine.install_board({3, 4, 5, 6});
    machine.dir.write("faults", "write 13\n");
    const auto printed = machine.dir.path() / "stdout";
    // The host's stdout goes to a file and the host ends without the C
    // runtime's exit handling, which would have flushed stdout for it.
    EXPECT_EXIT(
        {
            std::fflush(stdout);
            if (std::freopen(printed.c_str(), "w", stdout) == nullptr) {
                std::_Exit(2);
            }
            QUORVEL_INIT();
            QUORVEL_WRITE(0x13, 0xC0);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(machine.dir.read("stdout"), "Error in Writing...!");
}

TEST_F(Library, RequestsWithoutAnOpenDeviceFailAndSendNothing)
{
    machine.install_board({3, 4, 5, 6});
    unsigned char value = 0;
    auto requests_fail = [&](const char *when) {
        int read_error = 0;
        int write_error = 0;
        EXPECT_EQ(output_of([&] {
                      EXPECT_EQ(QUORVEL_READ(0x10, &value), -1);
                      read_error = errno;
                      EXPECT_EQ(QUORVEL_WRITE(0x10, 1), -1);
                      write_error = errno;
                      EXPECT_EQ(QUORVEL_CLOSE(), 0);
                  }),
                  "Error in Reading...!Error in Writing...!")
            << when;
        EXPECT_EQ(std::make_pair(read_error, write_error), std::make_pair(error_invalid_handle, error_invalid_handle))
            << when;
    };
    requests_fail("before any open");
    ASSERT_EQ(init().first, 0);
    EXPECT_NE(QUORVEL_CLOSE(), 0);
    requests_fail("after close");
    machine.dir.write("faults", "open\n");
    EXPECT_EQ(init().first, -1);
    requests_fail("after a failed open");
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 close"}));
}

TEST_F(Library, ReadIntoANullAddressFailsAndSendsNothing)
{
    machine.install_board({3, 4, 5, 6});
    ASSERT_EQ(init().first, 0);
    int error = 0;
    EXPECT_EQ(output_of([&] {
                  EXPECT_EQ(QUORVEL_READ(0x10, nullptr), -1);
                  error = errno;
              }),
              "Error in Reading...!");
    EXPECT_EQ(error, error_invalid_parameter);
    EXPECT_EQ(machine.log(), Log{"COM3 open"});
}

TEST_F(Library, SecondInitReplacesTheOpenHandle)
{
    machine.install_board({3, 4, 5, 6});
    ASSERT_EQ(init().first, 0);
    ASSERT_EQ(init(), std::make_pair(0, std::string()));
    EXPECT_EQ(QUORVEL_WRITE(0x10, 0x0A), 0);
    EXPECT_NE(QUORVEL_CLOSE(), 0);
    EXPECT_EQ(QUORVEL_CLOSE(), 0) << "the handle is forgotten once closed";
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 close", "COM3 open", "COM3 80052038 100a 0 ok", "COM3 close"}));
}

TEST_F(Library, SecondInitFailingDiscoveryKeepsTheOpenHandle)
{
    machine.install_board({3, 4, 5, 6});
    ASSERT_EQ(init().first, 0);
    std::filesystem::remove(machine.dir.path() / "SERIALCOMM");
    EXPECT_EQ(init(), std::make_pair(-1, std::string("Driver is not installed\n")));
    EXPECT_EQ(QUORVEL_WRITE(0x10, 0x0A), 0);
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 80052038 100a 0 ok"}));
}

} // namespace
