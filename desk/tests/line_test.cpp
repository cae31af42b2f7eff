// The network lines: the address parser, the IP header's encoding and
// checks, which request a reply answers, and both ends over loopback.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "camera_link.h"
#include "line.h"
#include "net_address.h"
#include "net_link.h"
#include "net_socket.h"
#include "reply_box.h"
#include "visca_ip.h"

namespace {

using line::Side;
using line::Transport;
using visca_ip::Bytes;

struct AddressCase {
    const char *text;
    Side side;
    bool ok;
    Transport transport;
    const char *host;
    const char *port;
};

TEST(NetAddress, ParsesWhatEachSideAccepts) {
    const AddressCase cases[] = {
        {"udp:192.0.2.7:52381", Side::Client, true, Transport::Udp, "192.0.2.7", "52381"},
        {"udp-raw:cam.local:1259", Side::Client, true, Transport::UdpRaw, "cam.local", "1259"},
        {"tcp:[::1]:5678", Side::Client, true, Transport::Tcp, "::1", "5678"},
        {"udp:52381", Side::Listening, true, Transport::Udp, "127.0.0.1", "52381"},
        {"tcp:0", Side::Listening, true, Transport::Tcp, "127.0.0.1", "0"},
        {"udp-raw:0.0.0.0:9", Side::Listening, true, Transport::UdpRaw, "0.0.0.0", "9"},
        {"udp:52381", Side::Client, false, Transport::Udp, "", ""},          // a client needs the host
        {"udp:host:0", Side::Client, false, Transport::Udp, "", ""},         // and a real port
        {"udp::5", Side::Listening, false, Transport::Udp, "", ""},          // empty host written out
        {"tcp:h:65535", Side::Client, true, Transport::Tcp, "h", "65535"},
        {"tcp:h:65536", Side::Client, false, Transport::Tcp, "", ""},
        {"tcp:h:12a", Side::Client, false, Transport::Tcp, "", ""},
        {"tcp:h:", Side::Client, false, Transport::Tcp, "", ""},
        {"udp:::1:5", Side::Client, false, Transport::Udp, "", ""},          // IPv6 without brackets
        {"udp:[::1]5", Side::Client, false, Transport::Udp, "", ""},
        {"udpraw:h:5", Side::Client, false, Transport::Udp, "", ""},
        {"/dev/ttyUSB0", Side::Client, false, Transport::Udp, "", ""},
    };
    for (const AddressCase &c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto net = line::parse_net_address(c.text, c.side, &error);
        ASSERT_EQ(net.has_value(), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(net->transport, c.transport);
        EXPECT_EQ(net->host, c.host);
        EXPECT_EQ(net->port, c.port);
    }
    EXPECT_TRUE(line::is_net_address("udp-raw:x:1"));
    EXPECT_FALSE(line::is_net_address("/dev/pts/3"));
    std::string error;
    EXPECT_EQ(line::parse_net_address("tcp:[::1]:7", Side::Client, &error)->text(), "tcp:[::1]:7");
}

TEST(ViscaIpHeader, EncodesBigEndianAndDecodesBack) {
    const Bytes frame = {0x81, 0x09, 0x06, 0x12, 0xFF};
    const Bytes wire = visca_ip::encode(visca_ip::request_type(frame.data(), frame.size()), 0x01020304, frame.data(),
                                        frame.size());
    EXPECT_EQ(wire, (Bytes{0x01, 0x10, 0x00, 0x05, 0x01, 0x02, 0x03, 0x04, 0x81, 0x09, 0x06, 0x12, 0xFF}));
    visca_ip::Datagram d;
    std::string why;
    ASSERT_TRUE(visca_ip::decode(wire.data(), wire.size(), &d, &why)) << why;
    EXPECT_EQ(d.type, visca_ip::Inquiry);
    EXPECT_EQ(d.sequence, 0x01020304u);
    EXPECT_EQ(d.payload, frame);
    const Bytes drive = {0x81, 0x01, 0x06, 0x01, 0x12, 0x00, 0x02, 0x03, 0xFF};
    EXPECT_EQ(visca_ip::request_type(drive.data(), drive.size()), visca_ip::Command);
    const Bytes longest = visca_ip::encode(visca_ip::Command, 1, Bytes(16, 0x01).data(), 16);
    EXPECT_TRUE(visca_ip::decode(longest.data(), longest.size(), &d, &why)) << why;
}

TEST(ViscaIpHeader, RejectsMalformedDatagrams) {
    const struct {
        Bytes bytes;
        const char *why;
    } cases[] = {
        {{0x01, 0x00, 0x00, 0x01, 0, 0, 0}, "shorter than the header"},
        {{0x01, 0x00, 0x00, 0x04, 0, 0, 0, 1, 0x81, 0x01, 0xFF}, "length field says 4 bytes, 3 follow"},
        {{0x01, 0x00, 0x00, 0x02, 0, 0, 0, 1, 0x81, 0x01, 0xFF}, "length field says 2 bytes, 3 follow"},
        {{0x01, 0x00, 0x00, 0x00, 0, 0, 0, 1}, "payload of 0 bytes"},
        {{0x03, 0x00, 0x00, 0x01, 0, 0, 0, 1, 0xFF}, "unknown payload type 0x0300"},
        {[] {
             Bytes b = {0x01, 0x00, 0x00, 17, 0, 0, 0, 1};
             b.resize(8 + 17, 0x00);
             return b;
         }(),
         "payload of 17 bytes"},
    };
    for (const auto &c : cases) {
        visca_ip::Datagram d;
        std::string why;
        EXPECT_FALSE(visca_ip::decode(c.bytes.data(), c.bytes.size(), &d, &why)) << c.why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}

TEST(ReplySequencer, MatchesRepliesToTheirRequests) {
    visca_ip::ReplySequencer s;
    // Two commands in flight, an inquiry between them; acknowledges open
    // sockets in order, completions close them in any order.
    s.request(visca_ip::Command, 10);
    s.request(visca_ip::Inquiry, 11);
    s.request(visca_ip::Command, 12);
    const struct {
        Bytes reply;
        uint32_t sequence;
    } steps[] = {
        {{0x90, 0x41, 0xFF}, 10},
        {{0x90, 0x50, 0x00, 0x01, 0x02, 0x03, 0xFF}, 11},  // the inquiry's answer
        {{0x90, 0x42, 0xFF}, 12},
        {{0x90, 0x52, 0xFF}, 12},
        {{0x90, 0x51, 0xFF}, 10},
        {{0x90, 0x60, 0x03, 0xFF}, 12},  // nothing left to answer: the latest request
    };
    for (const auto &step : steps) {
        EXPECT_EQ(s.reply(step.reply.data(), step.reply.size()), step.sequence) << step.reply.size();
    }
    s.request(visca_ip::Command, 13);
    const Bytes full = {0x90, 0x60, 0x03, 0xFF};  // buffer full answers the oldest command
    EXPECT_EQ(s.reply(full.data(), full.size()), 13u);
    // A camera that opens socket 1 again before closing it: first in, first out.
    s.request(visca_ip::Command, 14);
    s.request(visca_ip::Command, 15);
    const Bytes ack = {0x90, 0x41, 0xFF}, done = {0x90, 0x51, 0xFF};
    for (uint32_t expected : {14u, 15u}) EXPECT_EQ(s.reply(ack.data(), ack.size()), expected);
    for (uint32_t expected : {14u, 15u}) EXPECT_EQ(s.reply(done.data(), done.size()), expected);
    // A completion without a socket answers a command, not the inquiry.
    s.request(visca_ip::Inquiry, 16);
    s.request(visca_ip::Command, 17);
    const Bytes bare = {0x90, 0x50, 0xFF};
    EXPECT_EQ(s.reply(bare.data(), bare.size()), 17u);
}

// Both ends over loopback with the header: the camera answers the reset and
// the request under its sequence number, counts and ignores junk; the client
// hears nothing from any address but the camera's.
TEST(NetLines, UdpListenerAndClientOverLoopback) {
    std::string error;
    auto listener = line::Listener::open(*line::parse_net_address("udp:0", Side::Listening, &error), &error);
    ASSERT_TRUE(listener) << error;
    const auto net = line::parse_net_address(listener->where(), Side::Client, &error);
    ASSERT_TRUE(net) << error;
    const int client = line::connect_socket(*net, 2.0, &error);
    ASSERT_GE(client, 0) << error;

    auto camera_reads = [&](line::Listener::Input *in) {
        struct pollfd p = {listener->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        ASSERT_TRUE(listener->read(in, &error)) << error;
    };
    auto client_reads = [&](int timeout_ms) {
        struct pollfd p = {client, POLLIN, 0};
        Bytes got;
        size_t size = 0;
        if (poll(&p, 1, timeout_ms) == 1) {
            EXPECT_TRUE(line::receive_datagram(client, &got, &size, &error));
        }
        return got;
    };
    auto send = [&](const Bytes &b) { ASSERT_TRUE(line::send_bounded(client, b.data(), b.size(), 1.0, &error)); };

    line::Listener::Input in;
    send(visca_ip::encode(visca_ip::ControlCommand, 0, &visca_ip::reset_payload, 1));
    camera_reads(&in);
    EXPECT_TRUE(in.bytes.empty());
    EXPECT_EQ(client_reads(5000), (Bytes{0x02, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0x01}));

    const Bytes stop = {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF};
    send(visca_ip::encode(visca_ip::Command, 7, stop.data(), stop.size()));
    camera_reads(&in);
    EXPECT_EQ(in.bytes, stop);
    send(visca_ip::encode(visca_ip::Command, 7, stop.data(), stop.size()));  // a repeat: not acted on
    send({0x01, 0x00, 0x00, 0x09, 0, 0, 0});                                   // cut short
    for (int i = 0; i < 2; ++i) {
        camera_reads(&in);
        EXPECT_TRUE(in.bytes.empty());
    }
    EXPECT_EQ(listener->dropped(), 2u);
    // After a reset the numbering starts again: the same number is new.
    send(visca_ip::encode(visca_ip::ControlCommand, 0, &visca_ip::reset_payload, 1));
    camera_reads(&in);
    EXPECT_EQ(client_reads(5000).size(), 9u);
    send(visca_ip::encode(visca_ip::Command, 7, stop.data(), stop.size()));
    camera_reads(&in);
    EXPECT_EQ(in.bytes, stop);
    EXPECT_EQ(listener->dropped(), 2u);
    const Bytes ack = {0x90, 0x41, 0xFF};
    ASSERT_TRUE(listener->send(ack.data(), ack.size(), &error)) << error;
    EXPECT_EQ(client_reads(5000), (Bytes{0x01, 0x11, 0x00, 0x03, 0, 0, 0, 7, 0x90, 0x41, 0xFF}));
    // After a reset the numbering starts again: the same number is a new message.
    send(visca_ip::encode(visca_ip::ControlCommand, 0, &visca_ip::reset_payload, 1));
    camera_reads(&in);
    EXPECT_EQ(client_reads(5000), (Bytes{0x02, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0x01}));
    send(visca_ip::encode(visca_ip::Command, 7, stop.data(), stop.size()));
    camera_reads(&in);
    EXPECT_EQ(in.bytes, stop);

    // A stranger on loopback sends to the client's port: never delivered.
    struct sockaddr_storage own;
    socklen_t own_length = sizeof own;
    ASSERT_EQ(getsockname(client, reinterpret_cast<struct sockaddr *>(&own), &own_length), 0);
    const int stranger = socket(own.ss_family, SOCK_DGRAM, 0);
    ASSERT_GE(stranger, 0);
    EXPECT_EQ(sendto(stranger, ack.data(), ack.size(), 0, reinterpret_cast<struct sockaddr *>(&own), own_length), 3);
    EXPECT_TRUE(client_reads(300).empty());
    close(stranger);
    close(client);
}

// tcp: each client's bytes are cut into messages of their own, replies go
// to the client that spoke last, and one that takes no replies is dropped.
TEST(NetLines, TcpListenerServesSeveralClients) {
    std::string error;
    auto listener = line::Listener::open(*line::parse_net_address("tcp:0", Side::Listening, &error), &error);
    ASSERT_TRUE(listener) << error;
    const auto net = line::parse_net_address(listener->where(), Side::Client, &error);
    const int a = line::connect_socket(*net, 2.0, &error), b = line::connect_socket(*net, 2.0, &error);
    std::vector<Bytes> messages;
    auto camera_reads = [&](int fd, const Bytes &bytes) {
        EXPECT_TRUE(fd < 0 || line::send_bounded(fd, bytes.data(), bytes.size(), 1.0, &error)) << error;
        struct pollfd p = {listener->fd(), POLLIN, 0};
        line::Listener::Input in;
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        ASSERT_TRUE(listener->read(&in, &error)) << error;
        for (const auto &piece : in.pieces) messages.push_back(piece.bytes);
    };
    for (const auto &[fd, bytes] : std::vector<std::pair<int, Bytes>>{
             {-1, {}}, {-1, {}}, {a, {0x81, 0x01, 0x06}}, {b, {0x81, 0x09, 0x06, 0x12, 0xFF}},
             {a, {0x01, 0x00, 0x00, 0x03, 0x03, 0xFF}}}) {
        camera_reads(fd, bytes);
    }
    EXPECT_EQ(messages, (std::vector<Bytes>{{0x81, 0x09, 0x06, 0x12, 0xFF},
                                            {0x81, 0x01, 0x06, 0x01, 0x00, 0x00, 0x03, 0x03, 0xFF}}));
    const Bytes ack = {0x90, 0x41, 0xFF};
    uint8_t got[8];
    ASSERT_TRUE(listener->send(ack.data(), ack.size(), &error)) << error;
    struct pollfd p = {a, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_EQ(recv(b, got, sizeof got, MSG_DONTWAIT), -1);
    size_t sent = 0;
    while (listener->send(ack.data(), ack.size(), &error) && sent < 10000000) ++sent;
    EXPECT_NE(error.find("connection dropped"), std::string::npos) << error << " after " << sent;
    EXPECT_EQ(listener->clients(), 1u);
    close(a);
    close(b);
}

// tcp, all places taken: a newcomer takes the place of the client silent the
// longest, never that of the controller replies go to, however many
// connections one client opens.
TEST(NetLines, TcpNewcomerReplacesTheOldestIdleClientNotTheController) {
    std::string error;
    auto listener = line::Listener::open(*line::parse_net_address("tcp:0", Side::Listening, &error), &error);
    ASSERT_TRUE(listener) << error;
    const auto net = line::parse_net_address(listener->where(), Side::Client, &error);
    std::vector<int> fds;  // fds[0]: the controller, then the others in the order they came
    std::string notes;
    auto camera_reads = [&] {
        struct pollfd p = {listener->fd(), POLLIN, 0};
        line::Listener::Input in;
        ASSERT_EQ(poll(&p, 1, 5000), 1);
        ASSERT_TRUE(listener->read(&in, &error)) << error;
        notes += in.note + "\n";
    };
    auto connect_one = [&] {
        fds.push_back(line::connect_socket(*net, 2.0, &error));
        camera_reads();
        usleep(2000);  // each silent for a different time
    };
    connect_one();
    const Bytes inquiry = {0x81, 0x09, 0x06, 0x12, 0xFF};
    ASSERT_TRUE(line::send_bounded(fds[0], inquiry.data(), inquiry.size(), 1.0, &error)) << error;
    camera_reads();
    usleep(2000);
    for (size_t n = 1; n < line::Listener::max_clients + 2; ++n) connect_one();
    EXPECT_NE(notes.find("all 8 places taken"), std::string::npos) << notes;
    // Dropped: the two silent the longest (fds[1], fds[2]); the controller stays.
    std::vector<bool> closed, expected(fds.size(), false);
    expected[1] = expected[2] = true;
    uint8_t got[8];
    for (int fd : fds) closed.push_back(recv(fd, got, sizeof got, MSG_DONTWAIT) == 0);
    EXPECT_EQ(closed, expected) << notes;
    const Bytes answer = {0x90, 0x50, 0x00, 0xFF};
    ASSERT_TRUE(listener->send(answer.data(), answer.size(), &error)) << error;
    struct pollfd p = {fds[0], POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    EXPECT_EQ(recv(fds[0], got, sizeof got, MSG_DONTWAIT), 4);
    for (int fd : fds) close(fd);
}

// The calibration over udp: the link resets the numbering, numbers its
// inquiries from 1 and takes as the answer only a reply under the
// inquiry's number; a late answer to an earlier request is passed over.
TEST(NetLines, CalibrationTakesTheAnswerUnderTheInquirysNumber) {
    const int camera = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(camera, 0);
    struct sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t at_length = sizeof at;
    ASSERT_EQ(bind(camera, reinterpret_cast<struct sockaddr *>(&at), sizeof at), 0);
    ASSERT_EQ(getsockname(camera, reinterpret_cast<struct sockaddr *>(&at), &at_length), 0);

    struct Round {
        std::vector<std::pair<uint32_t, Bytes>> replies;  // under these numbers, given the inquiry's as 0
        bool ok;
        int value;
        const char *error;
    };
    const Round rounds[] = {
        {{{0, {0x90, 0x50, 0x01, 0x02, 0x03, 0x04, 0xFF}}}, true, 0x1234, ""},
        // The earlier inquiry's answer, late, then this one's.
        {{{99, {0x90, 0x50, 0x0F, 0x0F, 0x0F, 0x0F, 0xFF}}, {0, {0x90, 0x50, 0x00, 0x01, 0x02, 0x03, 0xFF}}},
         true,
         0x0123,
         ""},
        {{{99, {0x90, 0x60, 0x02, 0xFF}}, {0, {0x90, 0x60, 0x03, 0xFF}}}, false, 0, "with the error 90 60 03 FF"},
    };
    std::vector<visca_ip::Datagram> heard;
    std::thread fake([&] {
        for (size_t i = 0; i <= sizeof rounds / sizeof rounds[0]; ++i) {
            struct pollfd p = {camera, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) return;
            uint8_t buf[64];
            struct sockaddr_storage from;
            socklen_t from_length = sizeof from;
            const ssize_t n =
                recvfrom(camera, buf, sizeof buf, 0, reinterpret_cast<struct sockaddr *>(&from), &from_length);
            visca_ip::Datagram d;
            std::string why;
            if (n <= 0 || !visca_ip::decode(buf, static_cast<size_t>(n), &d, &why)) return;
            heard.push_back(d);
            if (i == 0) continue;  // the reset
            for (const auto &[offset, reply] : rounds[i - 1].replies) {
                const Bytes out = visca_ip::encode(visca_ip::Reply, d.sequence + offset, reply.data(), reply.size());
                sendto(camera, out.data(), out.size(), 0, reinterpret_cast<struct sockaddr *>(&from), from_length);
            }
        }
    });

    std::string error;
    const auto net = line::parse_net_address("udp:127.0.0.1:" + std::to_string(ntohs(at.sin_port)), Side::Client,
                                             &error);
    ASSERT_TRUE(net) << error;
    auto link = calibrate::net_link(*net, &error);
    ASSERT_TRUE(link) << error;
    for (const Round &r : rounds) {
        error.clear();
        const auto zoom = calibrate::read_lens(*link, true, &error);
        EXPECT_EQ(zoom.has_value(), r.ok) << error;
        EXPECT_EQ(zoom.value_or(0), r.value);
        EXPECT_NE(error.find(r.error), std::string::npos) << error;
    }
    fake.join();
    close(camera);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].type, visca_ip::ControlCommand);
    EXPECT_EQ(heard[0].sequence, 0u);
    for (uint32_t i = 1; i < 4; ++i) {
        EXPECT_EQ(heard[i].type, visca_ip::Inquiry);
        EXPECT_EQ(heard[i].sequence, i);
        EXPECT_EQ(heard[i].payload, (Bytes{0x81, 0x09, 0x04, 0x47, 0xFF}));
    }
}

// The host's wait for an answer: replies to other requests and
// acknowledgements are passed over; a line fault ends the wait at once.
TEST(NetLines, HostWaitsForTheAnswerToItsInquiry) {
    host::ReplyBox box;
    box.push({0x90, 0x41, 0xFF}, 5);
    box.push({0x90, 0x50, 0x0F, 0xFF}, 4);
    box.push({0x90, 0x50, 0x01, 0xFF}, 5);
    EXPECT_EQ(box.wait_answer(0, 5), (Bytes{0x90, 0x50, 0x01, 0xFF}));
    box.push({0x90, 0x60, 0x02, 0xFF});  // unnumbered lines: the first answer
    EXPECT_EQ(box.wait_answer(0, 6), (Bytes{0x90, 0x60, 0x02, 0xFF}));
    box.fail("Connection refused");
    std::string failure;
    const double began = line::monotonic_seconds();
    EXPECT_FALSE(box.wait_answer(5, 7, &failure));
    EXPECT_LT(line::monotonic_seconds() - began, 1.0);
    EXPECT_EQ(failure, "Connection refused");
}

}  // namespace

// A serial line is one program's: a second open of the same device is
// refused at once and says why; the holder's descriptor is blocking.
TEST(SerialLines, SecondOpenOfALockedLineIsRefused) {
    line::Pty pty;
    std::string error;
    ASSERT_TRUE(line::open_pty(line::Settings(), &pty, &error)) << error;
    const int first = line::open_serial(pty.path, line::Settings(), &error);
    EXPECT_EQ(fcntl(first, F_GETFL) & O_NONBLOCK, 0) << error;
    const double began = line::monotonic_seconds();
    EXPECT_EQ(line::open_serial(pty.path, line::Settings(), &error), -1);
    EXPECT_LT(line::monotonic_seconds() - began, 0.5);
    EXPECT_EQ(error, pty.path + ": the line is in use by another program (it holds the lock)");
    for (int fd : {first, pty.slave, pty.master}) close(fd);
}
