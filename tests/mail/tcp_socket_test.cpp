#include "platform/tcp_socket.h"

#include <gtest/gtest.h>

namespace paginor {
namespace {

TEST(TcpSocketTest, RefusesPortsOutsideTheRange) {
    PosixTcpConnector connector;
    std::string error;
    EXPECT_EQ(connector.connect("127.0.0.1", 0, error), nullptr);
    EXPECT_EQ(error, "invalid port 0");
    EXPECT_EQ(connector.connect("127.0.0.1", 65536, error), nullptr);
}

}  // namespace
}  // namespace paginor
