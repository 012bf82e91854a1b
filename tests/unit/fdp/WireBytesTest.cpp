// The link's bytes on the wire, written out as the target sees them: each command the
// PC sends (frame type, code, length field, data, padding) and each reply code it acts
// on. The expected bytes are literal, so a code, length or offset that changes in the
// link's own tables shows here even where both ends of the other tests would agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "fdp/RequestFrontEnd.h"
#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

using namespace std::chrono_literals;

// Everything from offset 14 (the frame type) on.
Bytes Payload(const Bytes& frame) { return Bytes(frame.begin() + 14, frame.end()); }

// A payload as sent: the meaningful bytes, zero-padded to 46.
Bytes Padded(Bytes bytes) {
    if (bytes.size() < 46) bytes.resize(46, 0);
    return bytes;
}

Bytes Concat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A target's data frame: type 0x05, then code, 16-bit length, data.
Bytes TargetData(std::uint8_t code, const Bytes& data) {
    const Bytes body = Concat({code, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)}, data);
    return TargetFrames::Frame(0x05, body);
}

// A numbered answer block: the 16-bit number, then the bytes.
Bytes TargetBlock(std::uint8_t code, std::uint16_t number, const Bytes& bytes) {
    return TargetData(code, Concat({static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8)}, bytes));
}

class WireBytesTest : public LinkFixture {
protected:
    Bytes NextPayload() {
        const auto frame = driver.NextSent();
        if (!frame) {
            ADD_FAILURE() << "no frame sent";
            return {};
        }
        // Every command goes to the target that announced, from the adapter's own address.
        EXPECT_TRUE(std::equal(TargetFrames::kTarget.begin(), TargetFrames::kTarget.end(), frame->begin()));
        EXPECT_TRUE(std::equal(FakePacketDriver::kLocal.begin(), FakePacketDriver::kLocal.end(), frame->begin() + 6));
        EXPECT_EQ((*frame)[12], 0x07);
        EXPECT_EQ((*frame)[13], 0x07);
        return Payload(*frame);
    }
};

TEST_F(WireBytesTest, AnnounceLoginAndLoginReply) {
    front.SetPassword("kiwi");
    ASSERT_EQ(front.Listen(), 0);
    for (int i = 0; i < 500 && engine.Channel()->State() != ChannelListening; ++i) std::this_thread::sleep_for(2ms);
    // Announce: type 0x01, challenge 0xA1B2C3D4 little-endian, two more values.
    Bytes announce = TargetFrames::Frame(0x01, {});
    const Bytes body = {0x01, 0xD4, 0xC3, 0xB2, 0xA1, 7, 0, 0, 0, 9, 0, 0, 0};
    std::copy(body.begin(), body.end(), announce.begin() + 14);
    driver.Inject(announce);

    const auto login = driver.NextSent();
    ASSERT_TRUE(login);
    ASSERT_EQ(login->size(), 60u);
    const Bytes payload = Payload(*login);
    EXPECT_EQ(payload[0], 0x02);
    // Bytes 1-4 are a random number below 32768; then "kiwi", zeros, and the last four
    // password bytes (zero) XOR the challenge as it arrived.
    EXPECT_LE(payload[1] | payload[2] << 8 | payload[3] << 16 | payload[4] << 24, 32767);
    const Bytes response = {'k', 'i', 'w', 'i', 0, 0, 0, 0, 0, 0, 0, 0, 0xD4, 0xC3, 0xB2, 0xA1};
    EXPECT_EQ(Bytes(payload.begin() + 5, payload.begin() + 21), response);
    EXPECT_EQ(Bytes(payload.begin() + 21, payload.end()), Bytes(25, 0));

    // Login reply: type 0x03, status 0 accepted.
    Bytes reply = TargetFrames::Frame(0x03, {});
    reply[15] = 0x00;
    driver.Inject(reply);
    const auto result = front.WaitResult(WM_FDP_CONNECT);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, 0u);
}

// A staged download of a 1100-byte file into each flash area: start, two numbered
// blocks, erase, burn, with the target answering each by its literal reply code; and
// the stages the link reports on the way.
struct AreaCase {
    const char* name;
    std::uint8_t kind;            // the download kind, also the blocks' command code
    std::uint8_t erase;           // 0x10 + kind
    std::uint8_t status;          // the status reply code the target uses: 0x02 or 0x04
    std::vector<unsigned> stages; // after the transfer's 62s and 63
};

class AreaDownloadTest : public WireBytesTest, public ::testing::WithParamInterface<AreaCase> {};

TEST_P(AreaDownloadTest, SendsItsCommandsAndReportsItsStages) {
    const AreaCase& c = GetParam();
    Connect();
    const auto path = WriteFile("image.bin", 1100);
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(front.StartDownload(c.kind, path), 0);
    const auto answer = [&](std::uint8_t code) { driver.Inject(TargetData(code, {0x00})); };

    // Start: code 0x0B, length 5, the kind, the total 1100 = 0x044C.
    EXPECT_EQ(NextPayload(), Padded({0x05, 0x0B, 0x05, 0x00, c.kind, 0x4C, 0x04, 0x00, 0x00}));
    answer(c.status);
    // Block 1: code = kind, length 1026, number 1, 1024 bytes of the file.
    EXPECT_EQ(NextPayload(), Concat({0x05, c.kind, 0x02, 0x04, 0x01, 0x00}, Bytes(file.begin(), file.begin() + 1024)));
    answer(c.status);
    // Block 2: length 78, number 2, the last 76 bytes.
    EXPECT_EQ(NextPayload(), Padded(Concat({0x05, c.kind, 0x4E, 0x00, 0x02, 0x00}, Bytes(file.begin() + 1024, file.end()))));
    answer(c.status);
    EXPECT_EQ(NextPayload(), Padded({0x05, c.erase, 0x00, 0x00}));
    answer(0x12);
    EXPECT_EQ(NextPayload(), Padded({0x05, 0x07, 0x00, 0x00}));
    answer(c.status);
    ASSERT_TRUE(front.WaitStage(c.stages.back()));

    std::vector<unsigned> stages;
    for (const ReportCall& r : front.Reports()) {
        EXPECT_EQ(r.result, 0u) << r.stage;
        if (r.stage != 62) stages.push_back(r.stage);
    }
    std::vector<unsigned> expected = {63};
    expected.insert(expected.end(), c.stages.begin(), c.stages.end());
    EXPECT_EQ(stages, expected);
}

INSTANTIATE_TEST_SUITE_P(Areas, AreaDownloadTest,
                         ::testing::Values(AreaCase{"Boot", 0x01, 0x11, 0x02, {1, 2, 3, 11, 12, 13}},
                                           AreaCase{"Program", 0x03, 0x13, 0x04, {21, 22, 23, 31, 32, 33}},
                                           AreaCase{"Parameter", 0x05, 0x15, 0x02, {41, 42, 43, 51, 52, 53}}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(WireBytesTest, ACancelledBlockIsFollowedByAbort) {
    Connect();
    ASSERT_EQ(front.StartDownload(0x01, WriteFile("boot.bin", 3000)), 0);
    NextPayload();
    driver.Inject(TargetData(0x02, {0x00}));
    NextPayload();   // block 1 outstanding
    EXPECT_EQ(engine.Cancel(), 0);
    EXPECT_EQ(NextPayload(), Padded({0x05, 0x09, 0x00, 0x00}));
    driver.Inject(TargetData(0x02, {0x00}));
    const auto result = front.WaitResult(WM_FDP_DOWNLOAD);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifyCancelled);
}

// The requests that fetch an answer: the command's bytes, then the target's numbered
// blocks and end reply under their literal codes.
TEST_F(WireBytesTest, GetParametersAsks0x21AndTakes0x22BlocksThen0x24) {
    Connect();
    auto buffer = MakeBuffer(8192);
    ASSERT_EQ(front.GetParams(buffer), 0);
    EXPECT_EQ(NextPayload(), Padded({0x05, 0x21, 0x00, 0x00}));
    driver.Inject(TargetBlock(0x22, 1, {'A', 'B'}));
    driver.Inject(TargetBlock(0x22, 2, {'C'}));
    driver.Inject(TargetData(0x24, {0x00}));
    const auto result = front.WaitResult(WM_FDP_PARAMS);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(Bytes(buffer->begin(), buffer->begin() + 4), (Bytes{'A', 'B', 'C', 0}));
}

TEST_F(WireBytesTest, GetTraceAsks0x41AndTakesItsLength0x42ThenBlocks0x44) {
    Connect();
    auto buffer = MakeBuffer(8192);
    ASSERT_EQ(front.GetTrace(buffer), 0);
    EXPECT_EQ(NextPayload(), Padded({0x05, 0x41, 0x00, 0x00}));
    driver.Inject(TargetData(0x42, {0x05, 0x00, 0x00, 0x00}));
    driver.Inject(TargetBlock(0x44, 1, {'h', 'e', 'l', 'l', 'o'}));
    const auto result = front.WaitResult(WM_FDP_TRACE);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(std::string(buffer->begin(), buffer->begin() + 6), std::string("hello\0", 6));
}

// Each transfer request: code 0x31, its sub-operation byte, the caller's block for
// the sub-operations that send it; the answer comes in 0x32 blocks and ends with 0x34.
struct TransferCase {
    const char* name;
    std::function<int(CRequestFrontEnd&, SharedBuffer)> request;
    std::size_t blockLen;
    std::uint8_t first;        // the block's first byte as the caller fills it
    Bytes sent;                // code, length, sub-operation byte, then the block's bytes
    std::uint32_t lParam;      // the transfer result's sub-operation
};

void PrintTo(const TransferCase& c, std::ostream* os) { *os << c.name; }

Bytes TestBlock(std::uint8_t sub, std::uint8_t first, std::size_t length) {
    Bytes bytes = {0x31, static_cast<std::uint8_t>(length + 1), 0x00, sub, first};
    bytes.resize(4 + length, 0);
    return bytes;
}

const TransferCase kTransfers[] = {
    {"Diagnose", [](CRequestFrontEnd& f, SharedBuffer b) { return f.DiagnoseTarget(b); }, 19, 0xFF, TestBlock(0, 0xFF, 19), 0},
    {"LoopSetup", [](CRequestFrontEnd& f, SharedBuffer b) { return f.StartLoopTest(b); }, 19, 0x42, TestBlock(1, 0x42, 19), 1},
    {"LoopSend", [](CRequestFrontEnd& f, SharedBuffer b) { return f.SendLoopData(b, 64); }, 64, 0x42, {0x31, 0x01, 0x00, 0x02}, 2},
    {"TestMode", [](CRequestFrontEnd& f, SharedBuffer b) { return f.EnableTargetTestMode(b); }, 19, 0x01, TestBlock(3, 0x01, 19), 3},
    {"LoopReceive", [](CRequestFrontEnd& f, SharedBuffer b) { return f.ReceiveLoopData(b, 64); }, 64, 0x42, {0x31, 0x01, 0x00, 0x04}, 4},
    {"Version", [](CRequestFrontEnd& f, SharedBuffer b) { return f.GetTargetVersion(b); }, 64, 0x0E, TestBlock(8, 0x0E, 64), 8},
};

class TransferBytesTest : public WireBytesTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferBytesTest, SendsTheSubOperationAndTakesTheAnswerBlocks) {
    const TransferCase& c = GetParam();
    Connect();
    auto block = MakeBuffer(c.blockLen);
    (*block)[0] = c.first;
    ASSERT_EQ(c.request(front, block), 0);
    EXPECT_EQ(NextPayload(), Padded(Concat({0x05}, c.sent)));
    driver.Inject(TargetBlock(0x32, 1, {0x04, 0x03, 0x02, 0x01}));
    driver.Inject(TargetData(0x34, {0x00}));
    const auto result = front.WaitResult(WM_FDP_TRANSFER);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->wParam, NotifySuccess);
    EXPECT_EQ(static_cast<std::uint32_t>(result->lParam), c.lParam);
    EXPECT_EQ(Bytes(block->begin(), block->begin() + 4), (Bytes{0x04, 0x03, 0x02, 0x01}));
}

INSTANTIATE_TEST_SUITE_P(SubOperations, TransferBytesTest, ::testing::ValuesIn(kTransfers),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace fdp::test
