// The simulated machine's own contract, below the library: the registry
// map's strings, the port devices, the request checks and the log.
#include "platform.h"
#include "support/sim_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace platform = quorvel::platform;
using quorvel::test::SimMachine;
using Log = std::vector<std::string>;

class SimulatedMachine : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QUORVEL_SIM_DIR", machine.dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("QUORVEL_SIM_DIR"); }

    // The data of one map value as the query returns it, or nothing.
    static std::optional<std::vector<std::uint8_t>> query(const char16_t *name, std::uint32_t buffer_size = 20)
    {
        platform::KeyHandle key{};
        if (!platform::open_serial_port_map(key)) {
            ADD_FAILURE() << "the map did not open";
            return std::nullopt;
        }
        std::vector<std::uint8_t> buffer(buffer_size, 0xEE);
        std::uint32_t size = buffer_size;
        const bool found = platform::query_value(key, name, buffer.data(), size);
        platform::close_key(key);
        if (!found) {
            return std::nullopt;
        }
        buffer.resize(size);
        return buffer;
    }

    SimMachine machine;
};

std::vector<std::uint8_t> bytes(std::initializer_list<int> values)
{
    return {values.begin(), values.end()};
}

TEST_F(SimulatedMachine, MapValuesComeBackAsTerminatedUtf16)
{
    machine.dir.write("SERIALCOMM", "\r\n\\Device\\ser15x0=COM7\r\n\n\\Device\\Other=A=B\n\\Device\\Wide=\xC3\xA9\n"
                                    "\\Device\\Last=COM1234\n\\Device\\Odd=\xF0\x9F\x98\x80\xC3\xC0\xAF\n");
    EXPECT_EQ(query(u"\\Device\\ser15x0"), bytes({'C', 0, 'O', 0, 'M', 0, '7', 0, 0, 0}));
    EXPECT_EQ(query(u"\\device\\SER15X0"), query(u"\\Device\\ser15x0")) << "names ignore case";
    EXPECT_EQ(query(u"\\Device\\Other"), bytes({'A', 0, '=', 0, 'B', 0, 0, 0}));
    EXPECT_EQ(query(u"\\Device\\Wide"), bytes({0xE9, 0, 0, 0}));
    EXPECT_EQ(query(u"\\Device\\Last"), bytes({'C', 0, 'O', 0, 'M', 0, '1', 0, '2', 0, '3', 0, '4', 0, 0, 0}));
    // A character beyond 16 bits takes a surrogate pair; a cut sequence and an
    // overlong encoding each become U+FFFD per byte.
    EXPECT_EQ(query(u"\\Device\\Odd"), bytes({0x3D, 0xD8, 0x00, 0xDE, 0xFD, 0xFF, 0xFD, 0xFF, 0xFD, 0xFF, 0, 0}));
    EXPECT_EQ(query(u"\\Device\\Last", 14), std::nullopt) << "data that does not fit fails";
    EXPECT_EQ(query(u"\\Device\\ser15x1"), std::nullopt);
}

TEST_F(SimulatedMachine, WithoutTheMapFileTheMapDoesNotOpen)
{
    platform::KeyHandle key{};
    EXPECT_FALSE(platform::open_serial_port_map(key));
}

TEST_F(SimulatedMachine, APortOpensOnceAtATimeAndOnlyWithItsDevice)
{
    machine.install_board({3, 4, 5, 6});
    platform::DevicePath path{};
    platform::format_device_path(path, 3);
    EXPECT_EQ(std::u16string(path.data()), u"\\\\.\\COM3");

    const auto first = platform::open_device(path.data());
    ASSERT_NE(first, platform::invalid_device);
    EXPECT_EQ(platform::open_device(path.data()), platform::invalid_device);
    EXPECT_EQ(platform::open_device(u"\\\\.\\COM9"), platform::invalid_device) << "no such port";
    EXPECT_EQ(platform::open_device(u"COM4"), platform::invalid_device) << "not a device path";
    const auto other = platform::open_device(u"\\\\.\\COM4");
    EXPECT_NE(other, platform::invalid_device);
    EXPECT_NE(platform::close_device(first), 0);
    const auto again = platform::open_device(path.data());
    EXPECT_NE(again, platform::invalid_device);
    EXPECT_NE(platform::close_device(again), 0);
    EXPECT_NE(platform::close_device(other), 0);
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM4 open", "COM3 close", "COM3 open", "COM3 close", "COM4 close"}));
}

TEST_F(SimulatedMachine, AcceptsEachRequestOnlyWithItsOwnCodeAndSizes)
{
    machine.install_board({3, 4, 5, 6});
    const auto device = platform::open_device(u"\\\\.\\COM3");
    ASSERT_NE(device, platform::invalid_device);
    const unsigned char write[2] = {0x20, 0x7F};
    const unsigned char reg = 0x20;
    unsigned char out[2] = {0xAA, 0xAA};
    std::uint32_t got = 9;

    EXPECT_TRUE(platform::send_device_request(device, 0x80052038, write, 2, nullptr, 0, got));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(platform::send_device_request(device, 0x80052034, &reg, 1, out, 1, got));
    EXPECT_EQ(out[0], 0x7F);
    EXPECT_EQ(got, 1u);
    EXPECT_FALSE(platform::send_device_request(device, 0x80052034, &reg, 1, out, 2, got));
    EXPECT_EQ(got, 0u) << "a rejected request returns nothing";
    EXPECT_FALSE(platform::send_device_request(device, 0x80052034, write, 2, out, 1, got));
    EXPECT_FALSE(platform::send_device_request(device, 0x80052038, write, 1, nullptr, 0, got));
    EXPECT_FALSE(platform::send_device_request(device, 0x80052038, write, 2, out, 1, got));
    EXPECT_FALSE(platform::send_device_request(device, 0x80052030, write, 2, nullptr, 0, got));
    EXPECT_NE(platform::close_device(device), 0);

    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 80052038 207f 0 ok", "COM3 80052034 20 1 ok",
                                  "COM3 80052034 20 2 fail", "COM3 80052034 207f 1 fail", "COM3 80052038 20 0 fail",
                                  "COM3 80052038 207f 1 fail", "COM3 80052030 207f 0 fail", "COM3 close"}));
    EXPECT_EQ(machine.dir.read("COM3").size(), 0x21u) << "the register file grows when written";
}

TEST_F(SimulatedMachine, RegistersPastTheEndOfTheFileReadAsZero)
{
    machine.install_board({3, 4, 5, 6});
    machine.dir.write("COM3", "\x11\x22");
    const auto device = platform::open_device(u"\\\\.\\COM3");
    unsigned char value = 0xAA;
    const unsigned char regs[2] = {0x01, 0xFF};
    std::uint32_t got = 0;
    ASSERT_TRUE(platform::send_device_request(device, 0x80052034, &regs[0], 1, &value, 1, got));
    EXPECT_EQ(value, 0x22);
    ASSERT_TRUE(platform::send_device_request(device, 0x80052034, &regs[1], 1, &value, 1, got));
    EXPECT_EQ(value, 0x00);
    EXPECT_EQ(got, 1u);
    platform::close_device(device);
}

TEST_F(SimulatedMachine, FaultsFailMatchingRequestsAndLeaveTheBoardUnchanged)
{
    machine.install_board({3, 4, 5, 6});
    machine.dir.write("faults", "read *\r\nwrite 1A\n");
    const auto device = platform::open_device(u"\\\\.\\COM3");
    ASSERT_NE(device, platform::invalid_device);
    const unsigned char faulty[2] = {0x1A, 0x01};
    const unsigned char fine[2] = {0x1B, 0x02};
    unsigned char value = 0;
    std::uint32_t got = 0;
    EXPECT_FALSE(platform::send_device_request(device, 0x80052038, faulty, 2, nullptr, 0, got));
    EXPECT_TRUE(platform::send_device_request(device, 0x80052038, fine, 2, nullptr, 0, got));
    EXPECT_FALSE(platform::send_device_request(device, 0x80052034, fine, 1, &value, 1, got));

    // An empty read is accepted with no byte; a rejecting fault on the same
    // register wins over it.
    machine.dir.write("faults", "read-empty 1B\nread-empty 1A\nread 1A\n");
    value = 0xAA;
    got = 9;
    EXPECT_TRUE(platform::send_device_request(device, 0x80052034, fine, 1, &value, 1, got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(value, 0xAA) << "the output stays untouched";
    EXPECT_FALSE(platform::send_device_request(device, 0x80052034, faulty, 1, &value, 1, got));
    platform::close_device(device);
    EXPECT_EQ(machine.reg(3, 0x1A), 0);
    EXPECT_EQ(machine.reg(3, 0x1B), 2);

    machine.dir.write("faults", "open\n");
    EXPECT_EQ(platform::open_device(u"\\\\.\\COM3"), platform::invalid_device);
    EXPECT_EQ(machine.log(),
              (Log{"COM3 open", "COM3 80052038 1a01 0 fail", "COM3 80052038 1b02 0 ok", "COM3 80052034 1b 1 fail",
                   "COM3 80052034 1b 1 ok", "COM3 80052034 1a 1 fail", "COM3 close"}));
}

TEST_F(SimulatedMachine, ClosedNullAndInvalidHandlesDoNothing)
{
    machine.install_board({3, 4, 5, 6});
    const auto device = platform::open_device(u"\\\\.\\COM3");
    ASSERT_NE(platform::close_device(device), 0);
    const unsigned char request[2] = {0x10, 0x01};
    std::uint32_t got = 0;
    for (const auto handle : {device, platform::null_device, platform::invalid_device}) {
        EXPECT_EQ(platform::close_device(handle), 0);
        EXPECT_FALSE(platform::send_device_request(handle, 0x80052038, request, 2, nullptr, 0, got));
    }
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 close"}));
}

TEST_F(SimulatedMachine, AHandleStillOpenIsClosedWhenTheProcessEnds)
{
    machine.install_board({3, 4, 5, 6});
    EXPECT_EXIT(
        {
            platform::open_device(u"\\\\.\\COM3");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(machine.log(), (Log{"COM3 open", "COM3 close"}));
}

} // namespace
