// The simulated target in-process: the test plays the PC, frame by frame.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <numeric>

#include "fdp/FdpGui.h"
#include "fdp/FdpTypes.h"
#include "fdp/param/ParamStore.h"
#include "fdp/param/ParamTasks.h"
#include "fdp/param/StandardBlock.h"
#include "tests/support/Sha256.h"
#include "tools/nap-sim/FrameLog.h"
#include "tools/nap-sim/NapModel.h"

namespace napsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr fdp::MacAddress kPc = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x01};
constexpr fdp::MacAddress kOther = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x09};
constexpr std::uint32_t kChallenge = 0x11223344;
constexpr std::uint8_t kEraseProgram = fdp::FDP_CMD_ERASE_BASE + std::uint8_t{fdp::KindProgram};

Bytes PcFrame(std::uint8_t type, const Bytes& body, const fdp::MacAddress& from = kPc) {
    Bytes frame = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x02};
    frame.insert(frame.end(), from.begin(), from.end());
    frame.push_back(0x07);
    frame.push_back(0x07);
    frame.push_back(type);
    frame.insert(frame.end(), body.begin(), body.end());
    if (frame.size() < 60) frame.resize(60, 0);
    return frame;
}

Bytes Login(std::string_view password, std::uint32_t challenge, const fdp::MacAddress& from = kPc) {
    Bytes body(4, 0);
    const auto response = fdp::MakeLoginResponse(fdp::MakePasswordBlock(password), challenge);
    body.insert(body.end(), response.begin(), response.end());
    return PcFrame(fdp::FDP_FRAME_LOGIN, body, from);
}

Bytes Command(std::uint8_t code, const Bytes& data = {}, const fdp::MacAddress& from = kPc) {
    Bytes body = {code, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    body.insert(body.end(), data.begin(), data.end());
    return PcFrame(fdp::FDP_FRAME_DATA, body, from);
}

Bytes Start(std::uint8_t kind, std::uint32_t total) {
    Bytes data = {kind, 0, 0, 0, 0};
    fdp::WriteLe32(&data[1], total);
    return Command(fdp::FDP_CMD_START, data);
}

Bytes Block(std::uint8_t kind, std::uint16_t number, const Bytes& bytes) {
    Bytes data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8)};
    data.insert(data.end(), bytes.begin(), bytes.end());
    return Command(kind, data);
}

struct Sent {
    Bytes frame;
    std::uint32_t delayMs;
    std::uint8_t Type() const { return frame[14]; }
    std::uint8_t Code() const { return frame[15]; }
    std::uint16_t Length() const { return fdp::ReadLe16(&frame[16]); }
    Bytes Data() const { return Bytes(frame.begin() + 18, frame.begin() + 18 + Length()); }
    std::uint8_t Status() const { return frame[18]; }
};

class NapModelTest : public ::testing::Test {
protected:
    void Make(NapConfig config = {}) {
        config.challenge = kChallenge;
        model = std::make_unique<CNapModel>(std::move(config));
        model->SetSend([this](std::span<const std::uint8_t> frame, std::uint32_t delay) {
            sent.push_back({Bytes(frame.begin(), frame.end()), delay});
        });
        model->SetLog([this](FrameDirection d, std::span<const std::uint8_t> frame, std::string_view note) {
            log.push_back(CFrameLog::Describe(d, frame, note));
        });
    }
    void SetUp() override { Make(); }
    void TearDown() override {
        if (!stateDir.empty()) std::filesystem::remove_all(stateDir);
    }
    // A configuration keeping its images in a fresh folder, removed after the test.
    NapConfig WithStateDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvane-state-XXXXXX").string();
        EXPECT_TRUE(::mkdtemp(pattern.data()));
        stateDir = pattern;
        NapConfig config;
        config.stateDir = pattern;
        return config;
    }

    // Hands the frame over and returns what the target sent in answer.
    std::vector<Sent> Exchange(const Bytes& frame) {
        sent.clear();
        model->HandleFrame(frame);
        return sent;
    }
    void LogIn() {
        const auto replies = Exchange(Login("kiwi", model->Challenge()));
        ASSERT_EQ(replies.size(), 1u);
        ASSERT_EQ(replies[0].frame[15], 0);
        ASSERT_TRUE(model->LoggedIn());
    }
    // Start, numbered 1024-byte blocks, burn; every reply must be status 0.
    void Download(std::uint8_t kind, const Bytes& image) {
        ASSERT_EQ(Exchange(Start(kind, static_cast<std::uint32_t>(image.size())))[0].Status(), 0);
        std::uint16_t number = 0;
        for (std::size_t offset = 0; offset < image.size(); offset += 1024) {
            number = fdp::NextBlockNumber(number);
            const auto end = image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), offset + 1024));
            const auto replies = Exchange(Block(kind, number, Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset), end)));
            ASSERT_EQ(replies.size(), 1u) << "block " << number;
            ASSERT_EQ(replies[0].Status(), 0) << "block " << number;
        }
        const auto burnt = Exchange(Command(fdp::FDP_CMD_BURN));
        ASSERT_EQ(burnt.size(), 1u);
        ASSERT_EQ(burnt[0].Status(), 0);
    }
    std::string LastInLog() const {
        for (auto it = log.rbegin(); it != log.rend(); ++it)
            if (it->find("\"dir\":\"in\"") != std::string::npos) return *it;
        return {};
    }

    std::unique_ptr<CNapModel> model;
    std::vector<Sent> sent;
    std::vector<std::string> log;
    std::string stateDir;
};

Bytes Pattern(std::size_t size, std::uint8_t seed = 1) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 10));
    return bytes;
}

TEST_F(NapModelTest, AnnouncesItsChallengeUntilALoginWasCheckedAgainstIt) {
    model->Announce();
    model->Announce();
    ASSERT_EQ(sent.size(), 2u);
    for (const auto& s : sent) {
        EXPECT_EQ(Bytes(s.frame.begin(), s.frame.begin() + 6), Bytes(6, 0xFF));
        EXPECT_EQ(s.Type(), fdp::FDP_FRAME_ANNOUNCE);
        EXPECT_EQ(fdp::ReadLe32(&s.frame[15]), kChallenge);
        EXPECT_EQ(s.frame.size(), 60u);
    }
    Exchange(Login("wrong", kChallenge));
    EXPECT_NE(model->Challenge(), kChallenge);
}

struct LoginCase {
    const char* password;
    std::uint8_t knob;
    std::uint8_t status;
    bool loggedIn;
};

class NapLoginTest : public NapModelTest, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(NapLoginTest, AnswersTheLoginWithItsStatus) {
    NapConfig config;
    config.loginStatus = GetParam().knob;
    Make(config);
    const auto replies = Exchange(Login(GetParam().password, kChallenge));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Type(), fdp::FDP_FRAME_LOGIN_REPLY);
    EXPECT_EQ(replies[0].frame[15], GetParam().status);
    EXPECT_EQ(Bytes(replies[0].frame.begin(), replies[0].frame.begin() + 6), Bytes(kPc.begin(), kPc.end()));
    EXPECT_EQ(model->LoggedIn(), GetParam().loggedIn);
}

INSTANTIATE_TEST_SUITE_P(Statuses, NapLoginTest,
                         ::testing::Values(LoginCase{"kiwi", 0, 0, true}, LoginCase{"kiwi2", 0, 1, false},
                                           LoginCase{"", 0, 1, false}, LoginCase{"kiwi", 2, 2, false},
                                           LoginCase{"kiwi", 9, 9, false}, LoginCase{"kiwi", 11, 11, false},
                                           LoginCase{"kiwi", 5, 5, true}, LoginCase{"wrong", 5, 1, false}));

TEST_F(NapModelTest, ServesCommandsOnlyToThePcThatLoggedIn) {
    EXPECT_TRUE(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)).empty());
    EXPECT_NE(LastInLog().find("not logged in"), std::string::npos);
    LogIn();
    EXPECT_TRUE(Exchange(Command(fdp::FDP_CMD_GET_PARAMS, {}, kOther)).empty());
    EXPECT_FALSE(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)).empty());
}

TEST_F(NapModelTest, DropsMalformedFramesWithoutAnswer) {
    LogIn();
    Bytes shortFrame = Command(fdp::FDP_CMD_GET_PARAMS);
    shortFrame.resize(14);
    Bytes otherType = Command(fdp::FDP_CMD_GET_PARAMS);
    otherType[13] = 0x00;
    Bytes bodyTooShort = PcFrame(fdp::FDP_FRAME_DATA, {0x21, 0x00});
    bodyTooShort.resize(17);
    Bytes lengthBeyond = Command(fdp::FDP_CMD_GET_TRACE);
    lengthBeyond[16] = 0xFF;
    lengthBeyond[17] = 0x7F;
    Bytes startTooShort = Command(fdp::FDP_CMD_START, {3, 0, 4});
    Bytes transferEmpty = Command(fdp::FDP_CMD_TRANSFER, {});
    Bytes blockWithoutNumber = Command(fdp::KindProgram, {1});
    Bytes loginCut = Login("kiwi", model->Challenge());
    loginCut.resize(30);
    const Bytes cases[] = {
        {}, shortFrame, otherType, bodyTooShort, lengthBeyond, Command(0x7E),
        startTooShort, transferEmpty, blockWithoutNumber,
        PcFrame(fdp::FDP_FRAME_ANNOUNCE, {1, 2, 3, 4}), PcFrame(fdp::FDP_FRAME_LOGIN_REPLY, {0}),
        loginCut,
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_TRUE(Exchange(cases[i]).empty()) << "case " << i;
        EXPECT_NE(LastInLog().find("dropped"), std::string::npos) << "case " << i << ": " << LastInLog();
    }
    EXPECT_TRUE(model->LoggedIn());
    EXPECT_FALSE(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)).empty());
}

TEST_F(NapModelTest, StoresEachAreaByteExact) {
    LogIn();
    const Bytes boot = Pattern(5000, 3);
    const Bytes program = Pattern(1024 * 1003 + 17, 9);   // block numbers wrap after 1000
    Bytes params(fdp::kParamImageLen, 0);
    params[fdp::kParamFormatOffset] = 2;
    params[100] = 0x5A;
    Download(fdp::KindBoot, boot);
    Download(fdp::KindProgram, program);
    Download(fdp::KindParam, params);
    ASSERT_TRUE(model->Image(fdp::KindBoot) && model->Image(fdp::KindProgram));
    EXPECT_EQ(fdp::test::Sha256Hex(*model->Image(fdp::KindBoot)), fdp::test::Sha256Hex(boot));
    EXPECT_EQ(fdp::test::Sha256Hex(*model->Image(fdp::KindProgram)), fdp::test::Sha256Hex(program));
    EXPECT_EQ(model->Params(), params);
}

TEST_F(NapModelTest, KeepsBurntImagesInItsStateFolderAcrossRuns) {
    const NapConfig config = WithStateDir();
    const std::string& pattern = config.stateDir;
    Make(config);
    LogIn();
    const Bytes program = Pattern(3000);
    Download(fdp::KindProgram, program);
    EXPECT_FALSE(std::filesystem::exists(pattern + "/program.bin.tmp"));
    EXPECT_EQ(fdp::test::Sha256File(pattern + "/program.bin"), fdp::test::Sha256Hex(program));
    Make(config);
    ASSERT_TRUE(model->Image(fdp::KindProgram));
    EXPECT_EQ(*model->Image(fdp::KindProgram), program);
}

TEST_F(NapModelTest, ChecksTheBlockNumbering) {
    LogIn();
    Exchange(Start(fdp::KindBoot, 3000));
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 1)))[0].Status(), 1);   // 1 expected
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 1, Bytes(1024, 1)))[0].Status(), 0);
    // A repeat of the block just taken (its acknowledgement was lost) is acknowledged
    // again and not stored twice.
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 1, Bytes(1024, 1)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(fdp::KindProgram, 2, Bytes(1024, 2)))[0].Status(), 1);   // wrong area
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 2)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 3, Bytes(1000, 3)))[0].Status(), 1);   // beyond 3000
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_BURN))[0].Status(), 1);                // incomplete
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 3, Bytes(952, 3)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_BURN))[0].Status(), 0);
    EXPECT_EQ(model->Image(fdp::KindBoot)->size(), 3000u);
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_BURN))[0].Status(), 1);                // nothing left to burn
}

TEST_F(NapModelTest, IgnoresTheFirstSendOfTheChosenBlocks) {
    NapConfig config;
    config.dropFirstSend = {2};
    Make(config);
    LogIn();
    Exchange(Start(fdp::KindBoot, 2048));
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 1, Bytes(1024, 1))).size(), 1u);
    EXPECT_TRUE(Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 2))).empty());
    EXPECT_NE(LastInLog().find("ignored: first send of block 2"), std::string::npos);
    const auto again = Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 2)));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Status(), 0);
}

TEST_F(NapModelTest, FallsSilentAfterTheChosenBlockUntilTheNextStart) {
    NapConfig config;
    config.silenceAfterBlock = 1;
    Make(config);
    LogIn();
    Exchange(Start(fdp::KindBoot, 2048));
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 1, Bytes(1024, 1))).size(), 1u);
    EXPECT_TRUE(Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 2))).empty());
    EXPECT_TRUE(Exchange(Command(fdp::FDP_CMD_BURN)).empty());
    EXPECT_TRUE(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)).empty());
    EXPECT_FALSE(model->Image(fdp::KindBoot));
    EXPECT_EQ(Exchange(Start(fdp::KindBoot, 10)).size(), 1u);
}

struct StatusCase {
    const char* name;
    void (*configure)(NapConfig&);
    int step;                  // 0 start, 1 block 2, 2 erase, 3 burn
    std::uint8_t code;         // reply code expected
    std::uint8_t status;
    std::uint32_t delayMs;
};

class NapStatusTest : public NapModelTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(NapStatusTest, ReportsTheConfiguredStatusAtItsStep) {
    const StatusCase& c = GetParam();
    NapConfig config;
    c.configure(config);
    Make(config);
    LogIn();
    const std::vector<Bytes> steps = {Start(fdp::KindProgram, 2048), Block(fdp::KindProgram, 1, Bytes(1024, 1)),
                                      Block(fdp::KindProgram, 2, Bytes(1024, 2)),
                                      Command(kEraseProgram), Command(fdp::FDP_CMD_BURN)};
    const int target = c.step == 0 ? 0 : c.step + 1;
    for (int i = 0; i <= target; ++i) {
        const auto replies = Exchange(steps[static_cast<std::size_t>(i)]);
        ASSERT_EQ(replies.size(), 1u) << i;
        if (i < target) continue;
        EXPECT_EQ(replies[0].Code(), c.code);
        EXPECT_EQ(replies[0].Status(), c.status);
        EXPECT_EQ(replies[0].delayMs, c.delayMs);
    }
    EXPECT_EQ(model->Image(fdp::KindProgram).has_value(), c.step == 3 && c.status == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NapStatusTest,
    ::testing::Values(
        StatusCase{"start", [](NapConfig& c) { c.startStatus = 6; }, 0, 0x02, 6, 0},
        StatusCase{"block", [](NapConfig& c) { c.blockStatus[2] = 5; }, 1, 0x02, 5, 0},
        StatusCase{"erase", [](NapConfig& c) { c.eraseStatus = 7; c.eraseDelayMs = 40; }, 2, 0x12, 7, 40},
        StatusCase{"burn", [](NapConfig& c) { c.burnStatus = 8; }, 3, 0x02, 8, 0},
        StatusCase{"burnDelayed", [](NapConfig& c) { c.burnDelayMs = 250; c.statusCode = 0x04; }, 3, 0x04, 0, 250},
        StatusCase{"eraseOk", [](NapConfig& c) { c.statusCode = 0x04; }, 2, 0x12, 0, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(NapModelTest, FaultsHitOnlyTheFirstDownloadsWhenLimited) {
    NapConfig config;
    config.burnStatus = 8;
    config.faultDownloads = 1;
    Make(config);
    LogIn();
    for (const std::uint8_t expected : {std::uint8_t{8}, std::uint8_t{0}}) {
        ASSERT_EQ(Exchange(Start(fdp::KindProgram, 1024)).size(), 1u);
        ASSERT_EQ(Exchange(Block(fdp::KindProgram, 1, Bytes(1024, 1))).size(), 1u);
        ASSERT_EQ(Exchange(Command(kEraseProgram)).size(), 1u);
        const auto burn = Exchange(Command(fdp::FDP_CMD_BURN));
        ASSERT_EQ(burn.size(), 1u);
        EXPECT_EQ(burn[0].Status(), expected);
    }
    EXPECT_TRUE(model->Image(fdp::KindProgram).has_value());
}

// The numbered blocks of one answer, concatenated, and the end reply.
struct Answer {
    Bytes data;
    std::vector<std::uint16_t> numbers;
    std::optional<std::uint8_t> end;
};

Answer Collect(const std::vector<Sent>& replies, std::uint8_t dataCode, std::uint8_t endCode) {
    Answer answer;
    for (const auto& r : replies) {
        if (r.Code() == dataCode) {
            const Bytes d = r.Data();
            answer.numbers.push_back(fdp::ReadLe16(d.data()));
            answer.data.insert(answer.data.end(), d.begin() + 2, d.end());
        } else if (r.Code() == endCode) {
            answer.end = r.Status();
        }
    }
    return answer;
}

TEST_F(NapModelTest, SendsItsParameterBlockInNumberedBlocks) {
    LogIn();
    const auto answer = Collect(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)), fdp::FDP_RSP_PARAMS_DATA,
                                fdp::FDP_RSP_PARAMS_END);
    std::vector<std::uint16_t> expected(8);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(answer.numbers, expected);
    EXPECT_EQ(answer.end, 0);
    const auto standard = param::MakeStandardBlock();
    EXPECT_EQ(answer.data, Bytes(standard.bytes.begin(), standard.bytes.end()));
    EXPECT_EQ(answer.data[fdp::kParamFormatOffset], fdp::kParamFormat);
}

TEST_F(NapModelTest, ParameterDownloadReplacesTheBlockAndOnlyAWholeBlockIsTaken) {
    LogIn();
    Bytes params(fdp::kParamImageLen, 0x33);
    Download(fdp::KindParam, params);
    EXPECT_EQ(Collect(Exchange(Command(fdp::FDP_CMD_GET_PARAMS)), fdp::FDP_RSP_PARAMS_DATA, fdp::FDP_RSP_PARAMS_END).data,
              params);
    Exchange(Start(fdp::KindParam, 100));
    Exchange(Block(fdp::KindParam, 1, Bytes(100, 1)));
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_BURN))[0].Status(), 1);
    EXPECT_EQ(model->Params(), params);
}

// A standard block carrying a new password and the given change mask.
Bytes BlockWithPassword(std::string_view password, std::uint32_t modifiedMask) {
    param::CParamStore store;
    store.LoadBlock(param::MakeStandardBlock().bytes);
    EXPECT_TRUE(store.SetText(param::kParamPassword, password));
    const Bytes mask = {static_cast<std::uint8_t>(modifiedMask), static_cast<std::uint8_t>(modifiedMask >> 8),
                        static_cast<std::uint8_t>(modifiedMask >> 16), static_cast<std::uint8_t>(modifiedMask >> 24)};
    EXPECT_TRUE(store.SetParam(param::kParamModifiedMask, mask));
    return Bytes(store.Block().bytes.begin(), store.Block().bytes.end());
}

TEST_F(NapModelTest, ABurntPasswordReplacesTheLoginPasswordOnlyWhenMarkedChanged) {
    struct Case { std::uint32_t mask; std::string_view accepted, refused; };
    const Case cases[] = {
        {param::kModifiedName | param::kModifiedPassword, "melon", "kiwi"},
        {param::kModifiedName, "kiwi", "melon"},                 // the password bit is not set
        {param::kModifiedPassword, "0123456789abcdef", "kiwi"},   // 16 bytes, no terminator
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accepted);
        Make();
        LogIn();
        Download(fdp::KindParam, BlockWithPassword(c.mask == param::kModifiedName ? "melon" : c.accepted, c.mask));
        EXPECT_EQ(Exchange(Login(c.refused, model->Challenge()))[0].Code(), fdp::LoginBadPassword);
        EXPECT_EQ(Exchange(Login(c.accepted, model->Challenge()))[0].Code(), 0);
    }
}

TEST_F(NapModelTest, APasswordBurntIntoTheStateFolderHoldsAfterARestart) {
    const NapConfig config = WithStateDir();
    Make(config);
    LogIn();
    Download(fdp::KindParam, BlockWithPassword("melon", param::kModifiedPassword));
    Make(config);
    EXPECT_EQ(Exchange(Login("melon", model->Challenge()))[0].Code(), 0);
}

struct TransferCase {
    const char* name;
    void (*configure)(NapConfig&);
    Bytes request;       // sub-operation byte and block
    Bytes answer;
    std::uint8_t end;
};

class NapTransferTest : public NapModelTest, public ::testing::WithParamInterface<TransferCase> {};

Bytes TestBlock(std::uint8_t first) {
    Bytes block(19, 0);
    block[0] = first;
    return block;
}

Bytes VersionRequest(std::uint8_t which) {
    Bytes request(65, 0);
    request[0] = fdp::TransferVersion;
    request[1] = which;
    return request;
}

TEST_P(NapTransferTest, AnswersTheSubOperation) {
    NapConfig config;
    GetParam().configure(config);
    Make(config);
    LogIn();
    const auto answer = Collect(Exchange(Command(fdp::FDP_CMD_TRANSFER, GetParam().request)),
                                fdp::FDP_RSP_TRANSFER_DATA, fdp::FDP_RSP_TRANSFER_END);
    EXPECT_EQ(answer.data, GetParam().answer);
    EXPECT_EQ(answer.end, GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(
    SubOperations, NapTransferTest,
    ::testing::Values(
        TransferCase{"diagnose", [](NapConfig&) {}, {0, 0xFF}, TestBlock(0x3F), 0},
        TransferCase{"diagnoseFault", [](NapConfig& c) { c.diagnose = 0x2D; }, {0, 0xFF}, TestBlock(0x2D), 0},
        TransferCase{"testMode", [](NapConfig&) {}, {3, 0x01, 0x03, 0x18, 0x00}, TestBlock(0), 0},
        TransferCase{"testModeRefused", [](NapConfig& c) { c.testModeStatus = 4; }, {3, 1, 3, 0x18, 0}, TestBlock(4), 0},
        TransferCase{"loopSetup", [](NapConfig&) {}, {1, 0, 0}, {}, 0},
        TransferCase{"loopSend", [](NapConfig&) {}, {2}, {}, 0},
        TransferCase{"loopReceive", [](NapConfig&) {}, {4}, {}, 0},
        TransferCase{"programVersion", [](NapConfig& c) { c.programVersion = 0x01020304; }, VersionRequest(0x0E), {4, 3, 2, 1}, 0},
        TransferCase{"noProgram", [](NapConfig& c) { c.programVersion = 0xFFFFFFFF; }, VersionRequest(0x0E), {0xFF, 0xFF, 0xFF, 0xFF}, 0},
        TransferCase{"bootVersion", [](NapConfig&) {}, VersionRequest(0x0D), {0, 0, 0, 1}, 0},
        TransferCase{"versionOfWhat", [](NapConfig&) {}, VersionRequest(0x0C), {}, 1},
        TransferCase{"unknown", [](NapConfig&) {}, {9, 1}, {}, 1}),
    [](const auto& test) { return std::string(test.param.name); });

// The Bluetooth module as the model sees it: what it was asked, what it answers.
struct FakeBluetooth : IBluetoothModule {
    void LoopSetup(std::span<const std::uint8_t> block) override { setup.assign(block.begin(), block.end()); }
    void LoopSend() override { ++sends; }
    void RequestLoopReport() override { ++reportRequests; }
    std::uint8_t RunCommand(std::span<const std::uint8_t> command) override {
        commands.emplace_back(command.begin(), command.end());
        return 0x0C;
    }
    Bytes setup;
    int sends = 0, reportRequests = 0;
    std::vector<Bytes> commands;
};

TEST_F(NapModelTest, HandsTheLoopTestToItsBluetoothModuleAndAnswersTheReportWhenItIsReady) {
    FakeBluetooth bluetooth;
    model->SetBluetooth(&bluetooth);
    LogIn();
    Bytes setup = {fdp::TransferLoopSetup, 0x42, 0x00, 0x01, 0x01, 0xAA, 0x00, 0, 0, 10, 0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Collect(Exchange(Command(fdp::FDP_CMD_TRANSFER, setup)), fdp::FDP_RSP_TRANSFER_DATA,
                      fdp::FDP_RSP_TRANSFER_END).end, 0);
    EXPECT_EQ(bluetooth.setup, Bytes(setup.begin() + 1, setup.end()));
    Exchange(Command(fdp::FDP_CMD_TRANSFER, {fdp::TransferLoopSend}));
    EXPECT_EQ(bluetooth.sends, 1);
    const auto testMode = Collect(Exchange(Command(fdp::FDP_CMD_TRANSFER, {fdp::TransferTestMode, 1, 3, 0x18, 0})),
                                  fdp::FDP_RSP_TRANSFER_DATA, fdp::FDP_RSP_TRANSFER_END);
    EXPECT_EQ(testMode.data, TestBlock(0x0C)) << "the controller's status";
    EXPECT_EQ(bluetooth.commands, std::vector<Bytes>{(Bytes{1, 3, 0x18, 0})});

    // The report waits for the dongle's data: nothing goes out until the module has it.
    EXPECT_TRUE(Exchange(Command(fdp::FDP_CMD_TRANSFER, {fdp::TransferLoopReceive})).empty());
    EXPECT_EQ(bluetooth.reportRequests, 1);
    const Bytes report = {0x02, 0x2A, 0x20, 0x02, 0x00, 0x06, 0x06};
    sent.clear();
    model->AnswerLoopReport(report);
    const auto answer = Collect(sent, fdp::FDP_RSP_TRANSFER_DATA, fdp::FDP_RSP_TRANSFER_END);
    EXPECT_EQ(answer.data, report);
    EXPECT_EQ(answer.end, 0);
    sent.clear();
    model->AnswerLoopReport(report);
    EXPECT_TRUE(sent.empty()) << "one answer per request";
}

TEST_F(NapModelTest, ReportsTheVersionOfTheBurntImageAndNoneAfterAnErase) {
    LogIn();
    auto version = [this] {
        const auto answer = Collect(Exchange(Command(fdp::FDP_CMD_TRANSFER, VersionRequest(0x0E))),
                                    fdp::FDP_RSP_TRANSFER_DATA, fdp::FDP_RSP_TRANSFER_END);
        return answer.data;
    };
    EXPECT_EQ(version(), (Bytes{0, 0, 0, 2}));
    EXPECT_EQ(Exchange(Command(kEraseProgram))[0].Status(), 0);
    EXPECT_EQ(version(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    Bytes image = Pattern(4096);
    image[64] = 0x04;
    image[65] = 0x03;
    image[66] = 0x02;
    image[67] = 0x01;
    Download(fdp::KindProgram, image);
    EXPECT_EQ(version(), (Bytes{4, 3, 2, 1}));
}

TEST_F(NapModelTest, SendsTheTraceLengthThenNumberedTextBlocks) {
    struct Case {
        std::string text;
        std::size_t blocks;
    } cases[] = {{"", 1}, {"one line\r\n", 1}, {std::string(2500, 'x'), 3}, {std::string(1024 * 1000, 'y'), 999}};
    for (const auto& c : cases) {
        NapConfig config;
        config.traceText = c.text;
        Make(config);
        LogIn();
        const auto replies = Exchange(Command(fdp::FDP_CMD_GET_TRACE));
        ASSERT_FALSE(replies.empty());
        ASSERT_EQ(replies[0].Code(), fdp::FDP_RSP_TRACE_LENGTH);
        const std::size_t kept = std::min(c.text.size(), kMaxAnswerLen);
        EXPECT_EQ(fdp::ReadLe32(replies[0].Data().data()), kept);
        const auto answer = Collect(replies, fdp::FDP_RSP_TRACE_DATA, 0);
        EXPECT_EQ(answer.numbers.size(), c.blocks);
        EXPECT_EQ(std::string(answer.data.begin(), answer.data.end()), c.text.substr(0, kept));
    }
}

TEST_F(NapModelTest, AbortEndsTheDownload) {
    LogIn();
    Exchange(Start(fdp::KindBoot, 2048));
    Exchange(Block(fdp::KindBoot, 1, Bytes(1024, 1)));
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_ABORT))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(fdp::KindBoot, 2, Bytes(1024, 1)))[0].Status(), 1);
    EXPECT_EQ(Exchange(Command(fdp::FDP_CMD_BURN))[0].Status(), 1);
}

TEST_F(NapModelTest, LogsEachFrameBeforeTheRepliesItCaused) {
    LogIn();
    log.clear();
    Exchange(Command(fdp::FDP_CMD_TRANSFER, {0, 0xFF}));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("\"dir\":\"in\",\"type\":5,\"code\":49,", 0), 0u) << log[0];
    EXPECT_EQ(log[1].rfind("\"dir\":\"out\",\"type\":5,\"code\":50,\"block\":1,", 0), 0u) << log[1];
    EXPECT_EQ(log[2].rfind("\"dir\":\"out\",\"type\":5,\"code\":52,\"status\":0,", 0), 0u) << log[2];
}

}  // namespace
}  // namespace napsim
