// Each request of the front end on a live link: the text it leaves for the user and
// the command it makes the engine send.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "fdp/RequestFrontEnd.h"
#include "tests/unit/fdp/LinkFixture.h"

namespace fdp::test {
namespace {

constexpr std::uint32_t kLoopBufferLen = 64;

struct RequestCase {
    const char* name;
    std::function<int(CRequestFrontEnd&, SharedBuffer)> request;
    std::size_t bufferLen;
    const char* text;             // the result text on acceptance; null: left as it was
    std::uint8_t code;
    std::uint16_t length;
    Bytes firstBytes;             // the data sent starts with these
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

// The caller's blocks hold 0xA0, 0xA1, ... so that a block sent after the
// sub-operation byte shows.
const RequestCase kRequests[] = {
    {"GetParams", [](CRequestFrontEnd& f, SharedBuffer b) { return f.GetParams(b); }, kParamImageLen,
     "System is getting params from target, please wait for a while!", FDP_CMD_GET_PARAMS, 0, {}},
    {"GetTrace", [](CRequestFrontEnd& f, SharedBuffer b) { return f.GetTrace(b); }, kParamImageLen,
     "System is getting trace info from target , please wait for a while!", FDP_CMD_GET_TRACE, 0, {}},
    {"Diagnose", [](CRequestFrontEnd& f, SharedBuffer b) { return f.DiagnoseTarget(b); }, kTestBlockLen,
     "System is diagnosing target , please wait for a while!", FDP_CMD_TRANSFER, 20, {TransferDiagnose, 0xA0, 0xA1}},
    {"LoopSetup", [](CRequestFrontEnd& f, SharedBuffer b) { return f.StartLoopTest(b); }, kTestBlockLen,
     "System is loop testing , please wait for a while!", FDP_CMD_TRANSFER, 20, {TransferLoopSetup, 0xA0, 0xA1}},
    {"LoopSend", [](CRequestFrontEnd& f, SharedBuffer b) { return f.SendLoopData(b, kLoopBufferLen); }, kLoopBufferLen,
     "System is loop testing , please wait for a while!", FDP_CMD_TRANSFER, 1, {TransferLoopSend}},
    {"TestMode", [](CRequestFrontEnd& f, SharedBuffer b) { return f.EnableTargetTestMode(b); }, kTestBlockLen,
     "System is loop testing , please wait for a while!", FDP_CMD_TRANSFER, 20, {TransferTestMode, 0xA0, 0xA1}},
    {"LoopReceive", [](CRequestFrontEnd& f, SharedBuffer b) { return f.ReceiveLoopData(b, kLoopBufferLen); }, kLoopBufferLen,
     "System is loop testing , please wait for a while!", FDP_CMD_TRANSFER, 1, {TransferLoopReceive}},
    {"Version", [](CRequestFrontEnd& f, SharedBuffer b) { return f.GetTargetVersion(b); }, kVersionBlockLen, nullptr,
     FDP_CMD_TRANSFER, 65, {TransferVersion, 0xA0, 0xA1}},
};

class RequestTest : public LinkFixture, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(RequestTest, AcceptedRequestSetsItsTextAndSendsItsCommand) {
    const RequestCase& c = GetParam();
    Connect();
    const std::string before = front.resultText();
    auto buffer = MakeBuffer(c.bufferLen);
    for (std::size_t i = 0; i < buffer->size(); ++i) (*buffer)[i] = static_cast<std::uint8_t>(0xA0 + i);

    ASSERT_EQ(c.request(front, buffer), 0);
    EXPECT_EQ(front.resultText(), c.text ? std::string(c.text) : before);
    const SentData sent = NextData();
    EXPECT_EQ(sent.code, c.code);
    EXPECT_EQ(sent.length, c.length);
    ASSERT_GE(sent.data.size(), c.firstBytes.size());
    EXPECT_EQ(Bytes(sent.data.begin(), sent.data.begin() + static_cast<std::ptrdiff_t>(c.firstBytes.size())),
              c.firstBytes);
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestTest, ::testing::ValuesIn(kRequests),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace fdp::test
