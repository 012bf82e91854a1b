// The simulated target in-process: the test plays the PC, frame by frame.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <numeric>

#include "fdp/param/ParamStore.h"
#include "fdp/param/StandardBlock.h"
#include "fdp/Sha256.h"
#include "tools/nap-sim/FrameLog.h"
#include "tools/nap-sim/NapModel.h"

namespace napsim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr fdp::MacAddress kPc = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x01};
constexpr fdp::MacAddress kOther = {0x02, 0x4b, 0x56, 0x00, 0x00, 0x09};
constexpr std::uint32_t kChallenge = 0x11223344;
// The protocol's values as the PC sends and reads them.
constexpr std::uint8_t kBoot = 0x01, kProgram = 0x03, kParam = 0x05;   // areas, and the codes of their blocks
constexpr std::uint8_t kEraseProgram = 0x13;
constexpr std::uint32_t kNameChanged = 1u << 29, kPasswordChanged = 1u << 28;   // parameter 12

// 1, 2, ..., 1000, 0, 1, ...
std::uint16_t NextBlockNumber(std::uint16_t n) { return n >= 1000 ? 0 : static_cast<std::uint16_t>(n + 1); }


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
    // A random number, then the password's first 16 bytes (zero-filled), the last four
    // XOR the challenge's bytes as announced.
    Bytes body(4 + 16, 0);
    std::copy_n(password.begin(), std::min<std::size_t>(password.size(), 16), body.begin() + 4);
    for (int i = 0; i < 4; ++i) body[16 + static_cast<std::size_t>(i)] ^= static_cast<std::uint8_t>(challenge >> (8 * i));
    return PcFrame(0x02, body, from);
}

Bytes Command(std::uint8_t code, const Bytes& data = {}, const fdp::MacAddress& from = kPc) {
    Bytes body = {code, static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(data.size() >> 8)};
    body.insert(body.end(), data.begin(), data.end());
    return PcFrame(0x05, body, from);
}

Bytes Start(std::uint8_t kind, std::uint32_t total) {
    Bytes data = {kind, 0, 0, 0, 0};
    fdp::WriteLe32(&data[1], total);
    return Command(0x0B, data);
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
            number = NextBlockNumber(number);
            const auto end = image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), offset + 1024));
            const auto replies = Exchange(Block(kind, number, Bytes(image.begin() + static_cast<std::ptrdiff_t>(offset), end)));
            ASSERT_EQ(replies.size(), 1u) << "block " << number;
            ASSERT_EQ(replies[0].Status(), 0) << "block " << number;
        }
        const auto burnt = Exchange(Command(0x07));
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
        EXPECT_EQ(s.Type(), 0x01);
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
    EXPECT_EQ(replies[0].Type(), 0x03);
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
    EXPECT_TRUE(Exchange(Command(0x21)).empty());
    EXPECT_NE(LastInLog().find("not logged in"), std::string::npos);
    LogIn();
    EXPECT_TRUE(Exchange(Command(0x21, {}, kOther)).empty());
    EXPECT_FALSE(Exchange(Command(0x21)).empty());
}

TEST_F(NapModelTest, DropsMalformedFramesWithoutAnswer) {
    LogIn();
    Bytes shortFrame = Command(0x21);
    shortFrame.resize(14);
    Bytes otherType = Command(0x21);
    otherType[13] = 0x00;
    Bytes bodyTooShort = PcFrame(0x05, {0x21, 0x00});
    bodyTooShort.resize(17);
    Bytes lengthBeyond = Command(0x41);
    lengthBeyond[16] = 0xFF;
    lengthBeyond[17] = 0x7F;
    Bytes startTooShort = Command(0x0B, {3, 0, 4});
    Bytes transferEmpty = Command(0x31, {});
    Bytes blockWithoutNumber = Command(kProgram, {1});
    Bytes loginCut = Login("kiwi", model->Challenge());
    loginCut.resize(30);
    const Bytes cases[] = {
        {}, shortFrame, otherType, bodyTooShort, lengthBeyond, Command(0x7E),
        startTooShort, transferEmpty, blockWithoutNumber,
        PcFrame(0x01, {1, 2, 3, 4}), PcFrame(0x03, {0}),
        loginCut,
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_TRUE(Exchange(cases[i]).empty()) << "case " << i;
        EXPECT_NE(LastInLog().find("dropped"), std::string::npos) << "case " << i << ": " << LastInLog();
    }
    EXPECT_TRUE(model->LoggedIn());
    EXPECT_FALSE(Exchange(Command(0x21)).empty());
}

TEST_F(NapModelTest, StoresEachAreaByteExact) {
    LogIn();
    const Bytes boot = Pattern(5000, 3);
    const Bytes program = Pattern(1024 * 1003 + 17, 9);   // block numbers wrap after 1000
    Bytes params(8192, 0);
    params[2051] = 2;
    params[100] = 0x5A;
    Download(kBoot, boot);
    Download(kProgram, program);
    Download(kParam, params);
    ASSERT_TRUE(model->Image(kBoot) && model->Image(kProgram));
    EXPECT_EQ(fdp::Sha256Hex(*model->Image(kBoot)), fdp::Sha256Hex(boot));
    EXPECT_EQ(fdp::Sha256Hex(*model->Image(kProgram)), fdp::Sha256Hex(program));
    EXPECT_EQ(model->Params(), params);
}

TEST_F(NapModelTest, KeepsBurntImagesInItsStateFolderAcrossRuns) {
    const NapConfig config = WithStateDir();
    const std::string& pattern = config.stateDir;
    Make(config);
    LogIn();
    const Bytes program = Pattern(3000);
    Download(kProgram, program);
    EXPECT_FALSE(std::filesystem::exists(pattern + "/program.bin.tmp"));
    EXPECT_EQ(fdp::Sha256File(pattern + "/program.bin"), fdp::Sha256Hex(program));
    Make(config);
    ASSERT_TRUE(model->Image(kProgram));
    EXPECT_EQ(*model->Image(kProgram), program);
}

TEST_F(NapModelTest, ChecksTheBlockNumbering) {
    LogIn();
    Exchange(Start(kBoot, 3000));
    EXPECT_EQ(Exchange(Block(kBoot, 2, Bytes(1024, 1)))[0].Status(), 1);   // 1 expected
    EXPECT_EQ(Exchange(Block(kBoot, 1, Bytes(1024, 1)))[0].Status(), 0);
    // A repeat of the block just taken (its acknowledgement was lost) is acknowledged
    // again and not stored twice.
    EXPECT_EQ(Exchange(Block(kBoot, 1, Bytes(1024, 1)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(kProgram, 2, Bytes(1024, 2)))[0].Status(), 1);   // wrong area
    EXPECT_EQ(Exchange(Block(kBoot, 2, Bytes(1024, 2)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(kBoot, 3, Bytes(1000, 3)))[0].Status(), 1);   // beyond 3000
    EXPECT_EQ(Exchange(Command(0x07))[0].Status(), 1);                // incomplete
    EXPECT_EQ(Exchange(Block(kBoot, 3, Bytes(952, 3)))[0].Status(), 0);
    EXPECT_EQ(Exchange(Command(0x07))[0].Status(), 0);
    EXPECT_EQ(model->Image(kBoot)->size(), 3000u);
    EXPECT_EQ(Exchange(Command(0x07))[0].Status(), 1);                // nothing left to burn
}

TEST_F(NapModelTest, IgnoresTheFirstSendOfTheChosenBlocks) {
    NapConfig config;
    config.dropFirstSend = {2};
    Make(config);
    LogIn();
    Exchange(Start(kBoot, 2048));
    EXPECT_EQ(Exchange(Block(kBoot, 1, Bytes(1024, 1))).size(), 1u);
    EXPECT_TRUE(Exchange(Block(kBoot, 2, Bytes(1024, 2))).empty());
    EXPECT_NE(LastInLog().find("ignored: first send of block 2"), std::string::npos);
    const auto again = Exchange(Block(kBoot, 2, Bytes(1024, 2)));
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].Status(), 0);
}

TEST_F(NapModelTest, FallsSilentAfterTheChosenBlockUntilTheNextStart) {
    NapConfig config;
    config.silenceAfterBlock = 1;
    Make(config);
    LogIn();
    Exchange(Start(kBoot, 2048));
    EXPECT_EQ(Exchange(Block(kBoot, 1, Bytes(1024, 1))).size(), 1u);
    EXPECT_TRUE(Exchange(Block(kBoot, 2, Bytes(1024, 2))).empty());
    EXPECT_TRUE(Exchange(Command(0x07)).empty());
    EXPECT_TRUE(Exchange(Command(0x21)).empty());
    EXPECT_FALSE(model->Image(kBoot));
    EXPECT_EQ(Exchange(Start(kBoot, 10)).size(), 1u);
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
    const std::vector<Bytes> steps = {Start(kProgram, 2048), Block(kProgram, 1, Bytes(1024, 1)),
                                      Block(kProgram, 2, Bytes(1024, 2)),
                                      Command(kEraseProgram), Command(0x07)};
    const int target = c.step == 0 ? 0 : c.step + 1;
    for (int i = 0; i <= target; ++i) {
        const auto replies = Exchange(steps[static_cast<std::size_t>(i)]);
        ASSERT_EQ(replies.size(), 1u) << i;
        if (i < target) continue;
        EXPECT_EQ(replies[0].Code(), c.code);
        EXPECT_EQ(replies[0].Status(), c.status);
        EXPECT_EQ(replies[0].delayMs, c.delayMs);
    }
    EXPECT_EQ(model->Image(kProgram).has_value(), c.step == 3 && c.status == 0);
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
        ASSERT_EQ(Exchange(Start(kProgram, 1024)).size(), 1u);
        ASSERT_EQ(Exchange(Block(kProgram, 1, Bytes(1024, 1))).size(), 1u);
        ASSERT_EQ(Exchange(Command(kEraseProgram)).size(), 1u);
        const auto burn = Exchange(Command(0x07));
        ASSERT_EQ(burn.size(), 1u);
        EXPECT_EQ(burn[0].Status(), expected);
    }
    EXPECT_TRUE(model->Image(kProgram).has_value());
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
    const auto answer = Collect(Exchange(Command(0x21)), 0x22,
                                0x24);
    std::vector<std::uint16_t> expected(8);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(answer.numbers, expected);
    EXPECT_EQ(answer.end, 0);
    const auto standard = param::MakeStandardBlock();
    EXPECT_EQ(answer.data, Bytes(standard.bytes.begin(), standard.bytes.end()));
    EXPECT_EQ(answer.data[2051], 2);
}

TEST_F(NapModelTest, ParameterDownloadReplacesTheBlockAndOnlyAWholeBlockIsTaken) {
    LogIn();
    Bytes params(8192, 0x33);
    Download(kParam, params);
    EXPECT_EQ(Collect(Exchange(Command(0x21)), 0x22, 0x24).data,
              params);
    Exchange(Start(kParam, 100));
    Exchange(Block(kParam, 1, Bytes(100, 1)));
    EXPECT_EQ(Exchange(Command(0x07))[0].Status(), 1);
    EXPECT_EQ(model->Params(), params);
}

// A standard block carrying a new password and the given change mask.
Bytes BlockWithPassword(std::string_view password, std::uint32_t modifiedMask) {
    param::CParamStore store;
    store.LoadBlock(param::MakeStandardBlock().bytes);
    EXPECT_TRUE(store.SetText(3, password));
    const Bytes mask = {static_cast<std::uint8_t>(modifiedMask), static_cast<std::uint8_t>(modifiedMask >> 8),
                        static_cast<std::uint8_t>(modifiedMask >> 16), static_cast<std::uint8_t>(modifiedMask >> 24)};
    EXPECT_TRUE(store.SetParam(12, mask));
    return Bytes(store.Block().bytes.begin(), store.Block().bytes.end());
}

TEST_F(NapModelTest, ABurntPasswordReplacesTheLoginPasswordOnlyWhenMarkedChanged) {
    struct Case { std::uint32_t mask; std::string_view accepted, refused; };
    const Case cases[] = {
        {kNameChanged | kPasswordChanged, "melon", "kiwi"},
        {kNameChanged, "kiwi", "melon"},                 // the password bit is not set
        {kPasswordChanged, "0123456789abcdef", "kiwi"},   // 16 bytes, no terminator
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.accepted);
        Make();
        LogIn();
        Download(kParam, BlockWithPassword(c.mask == kNameChanged ? "melon" : c.accepted, c.mask));
        EXPECT_EQ(Exchange(Login(c.refused, model->Challenge()))[0].Code(), 1);
        EXPECT_EQ(Exchange(Login(c.accepted, model->Challenge()))[0].Code(), 0);
    }
}

// The target keeps the password it adopted, not the block it came in: after a later
// block without the password bit (a name change, a network setting), a restart still
// logs in with the adopted password only.
TEST_F(NapModelTest, AnAdoptedPasswordHoldsAfterARestart) {
    struct Case { const char* name; bool later; std::uint32_t laterMask; };
    for (const Case c : {Case{"no later block", false, 0}, Case{"a later name change", true, kNameChanged},
                         Case{"a later block with no mask bit", true, 0}}) {
        SCOPED_TRACE(c.name);
        const NapConfig config = WithStateDir();
        Make(config);
        LogIn();
        Download(kParam, BlockWithPassword("melon", kPasswordChanged | kNameChanged));
        if (c.later) {
            ASSERT_EQ(Exchange(Login("melon", model->Challenge()))[0].Code(), 0);
            Download(kParam, BlockWithPassword("pear", c.laterMask));
        }
        Make(config);
        EXPECT_EQ(Exchange(Login("kiwi", model->Challenge()))[0].Code(), 1);
        EXPECT_EQ(Exchange(Login("pear", model->Challenge()))[0].Code(), 1);
        EXPECT_EQ(Exchange(Login("melon", model->Challenge()))[0].Code(), 0);
        EXPECT_EQ(std::filesystem::status(stateDir + "/password").permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::filesystem::remove_all(stateDir);
    }
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
    request[0] = 0x08;
    request[1] = which;
    return request;
}

TEST_P(NapTransferTest, AnswersTheSubOperation) {
    NapConfig config;
    GetParam().configure(config);
    Make(config);
    LogIn();
    const auto answer = Collect(Exchange(Command(0x31, GetParam().request)),
                                0x32, 0x34);
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
    Bytes setup = {0x01, 0x42, 0x00, 0x01, 0x01, 0xAA, 0x00, 0, 0, 10, 0xE8, 0x03, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Collect(Exchange(Command(0x31, setup)), 0x32,
                      0x34).end, 0);
    EXPECT_EQ(bluetooth.setup, Bytes(setup.begin() + 1, setup.end()));
    Exchange(Command(0x31, {0x02}));
    EXPECT_EQ(bluetooth.sends, 1);
    const auto testMode = Collect(Exchange(Command(0x31, {0x03, 1, 3, 0x18, 0})),
                                  0x32, 0x34);
    EXPECT_EQ(testMode.data, TestBlock(0x0C)) << "the controller's status";
    EXPECT_EQ(bluetooth.commands, std::vector<Bytes>{(Bytes{1, 3, 0x18, 0})});

    // The report waits for the dongle's data: nothing goes out until the module has it.
    EXPECT_TRUE(Exchange(Command(0x31, {0x04})).empty());
    EXPECT_EQ(bluetooth.reportRequests, 1);
    const Bytes report = {0x02, 0x2A, 0x20, 0x02, 0x00, 0x06, 0x06};
    sent.clear();
    model->AnswerLoopReport(report);
    const auto answer = Collect(sent, 0x32, 0x34);
    EXPECT_EQ(answer.data, report);
    EXPECT_EQ(answer.end, 0);
    sent.clear();
    model->AnswerLoopReport(report);
    EXPECT_TRUE(sent.empty()) << "one answer per request";
}

TEST_F(NapModelTest, ReportsTheVersionOfTheBurntImageAndNoneAfterAnErase) {
    LogIn();
    auto version = [this] {
        const auto answer = Collect(Exchange(Command(0x31, VersionRequest(0x0E))),
                                    0x32, 0x34);
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
    Download(kProgram, image);
    EXPECT_EQ(version(), (Bytes{4, 3, 2, 1}));
}

// The knob that shows a burn which did not take: the target goes on reporting the
// versions it held at start.
TEST_F(NapModelTest, KeepsReportingTheOldVersionWhenToldTo) {
    NapConfig config;
    config.keepVersion = true;
    Make(config);
    LogIn();
    auto version = [this](std::uint8_t which) {
        return Collect(Exchange(Command(0x31, VersionRequest(which))), 0x32, 0x34).data;
    };
    Bytes image = Pattern(4096);
    image[64] = 0x02;
    image[65] = 0x03;
    image[66] = 0x08;
    image[67] = 0x02;
    Download(kProgram, image);
    EXPECT_EQ(version(0x0E), (Bytes{0, 0, 0, 2})) << "the built-in 2.0.0.0, not the burnt 2.8.3.2";
    EXPECT_EQ(version(0x0D), (Bytes{0, 0, 0, 1}));
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
        const auto replies = Exchange(Command(0x41));
        ASSERT_FALSE(replies.empty());
        ASSERT_EQ(replies[0].Code(), 0x42);
        const std::size_t kept = std::min(c.text.size(), kMaxAnswerLen);
        EXPECT_EQ(fdp::ReadLe32(replies[0].Data().data()), kept);
        const auto answer = Collect(replies, 0x44, 0);
        EXPECT_EQ(answer.numbers.size(), c.blocks);
        EXPECT_EQ(std::string(answer.data.begin(), answer.data.end()), c.text.substr(0, kept));
    }
}

TEST_F(NapModelTest, AbortEndsTheDownload) {
    LogIn();
    Exchange(Start(kBoot, 2048));
    Exchange(Block(kBoot, 1, Bytes(1024, 1)));
    EXPECT_EQ(Exchange(Command(0x09))[0].Status(), 0);
    EXPECT_EQ(Exchange(Block(kBoot, 2, Bytes(1024, 1)))[0].Status(), 1);
    EXPECT_EQ(Exchange(Command(0x07))[0].Status(), 1);
}

TEST_F(NapModelTest, LogsEachFrameBeforeTheRepliesItCaused) {
    LogIn();
    log.clear();
    Exchange(Command(0x31, {0, 0xFF}));
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].rfind("\"dir\":\"in\",\"type\":5,\"code\":49,", 0), 0u) << log[0];
    EXPECT_EQ(log[1].rfind("\"dir\":\"out\",\"type\":5,\"code\":50,\"block\":1,", 0), 0u) << log[1];
    EXPECT_EQ(log[2].rfind("\"dir\":\"out\",\"type\":5,\"code\":52,\"status\":0,", 0), 0u) << log[2];
}

}  // namespace
}  // namespace napsim
