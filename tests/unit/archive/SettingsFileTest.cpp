#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "archive/SettingsFile.h"
#include "tests/unit/param/ScratchDir.h"

namespace archive {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Field = std::variant<std::int32_t, std::string>;
using kelvane_test::ReadFile;
using kelvane_test::ScratchDir;
using kelvane_test::WriteFile;

// A page's record made of plain fields, loaded the way pages are asked to load: all
// fields first, then the page's values at once.
class FieldRecord : public SettingsRecord {
public:
    explicit FieldRecord(std::vector<Field> initial) : fields(std::move(initial)) {}

    void Save(CArchive& ar) override {
        for (const Field& f : fields) {
            if (const auto* n = std::get_if<std::int32_t>(&f)) ar.WriteInt32(*n);
            else ar.WriteString(std::get<std::string>(f));
        }
    }
    void Load(CArchive& ar) override {
        std::vector<Field> read = fields;
        for (Field& f : read) {
            if (std::holds_alternative<std::int32_t>(f)) f = ar.ReadInt32();
            else f = ar.ReadString();
        }
        fields = std::move(read);
    }

    std::vector<Field> fields;
};

// The eight records in page order with the shapes the pages store; record 1 is the
// password page with its flag set.
std::vector<std::vector<Field>> PageDefaults() {
    using S = std::string;
    return {
        {1, S("")},
        {-1, -1, 0, -1, -1},
        {S(""), S(""), S("")},
        {S(""), S(""), S(""), S(""), S("")},
        {0, S(""), S("")},
        {},
        {-1, -1, 0, -1, 0, -1, 1024, 0},
        {S("")},
    };
}

std::vector<std::vector<Field>> PageValues() {
    using S = std::string;
    return {
        {1, S("4826")},
        {0, -1, -1, -1, -1},
        {S("Jox NAP"), S("secret"), S("secret")},
        {S("*11#"), S("*12#"), S("10.0.0.1"), S("8001"), S("5550100")},
        {1, S("/fw/boot.bin"), S("/fw/program.bin")},
        {},
        {0, -1, -1, 0, -1, 0, 4096, 115200},
        {S(std::string(300, 's'))},
    };
}

class Pages {
public:
    explicit Pages(const std::vector<std::vector<Field>>& values) {
        for (const auto& v : values) owned_.push_back(std::make_unique<FieldRecord>(v));
        for (const auto& r : owned_) records.push_back(r.get());
    }
    std::vector<std::vector<Field>> Values() const {
        std::vector<std::vector<Field>> values;
        for (const auto& r : owned_) values.push_back(r->fields);
        return values;
    }
    std::vector<SettingsRecord*> records;

private:
    std::vector<std::unique_ptr<FieldRecord>> owned_;
};

class SettingsFileTest : public ::testing::Test {
protected:
    SettingsFileTest() {
        ui.reportError = [this](const std::string& text) { errors.push_back(text); };
        ui.askRetry = [this] { ++asks; return false; };
    }

    void Save(const std::vector<std::vector<Field>>& values) {
        Pages pages(values);
        SaveSettings(ini, old, pages.records, ui);
    }
    std::vector<std::vector<Field>> Load() {
        Pages pages(PageDefaults());
        LoadSettings(ini, pages.records, ui);
        return pages.Values();
    }

    ScratchDir dir;
    std::filesystem::path ini = dir / "kelvane.ini";
    std::filesystem::path old = dir / "kelvane.old";
    SettingsUi ui;
    std::vector<std::string> errors;
    int asks = 0;
};

TEST_F(SettingsFileTest, SavedRecordsLoadBack) {
    Save(PageValues());
    EXPECT_EQ(Load(), PageValues());
    EXPECT_TRUE(errors.empty());
    // 4+1+4 | 5*4 | 8+7+7 | 5+5+9+5+8 | 4+13+16 | - | 8*4 | 3+300
    EXPECT_EQ(std::filesystem::file_size(ini), 9u + 20u + 22u + 32u + 33u + 32u + 303u);
}

TEST_F(SettingsFileTest, TheFileIsReadableByItsOwnerOnly) {
    Save(PageValues());
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// The new settings (passwords in clear) go into a new file renamed over the old one: a
// reader that opened kelvane.ini before keeps reading the old bytes, kelvane.old is
// the previous file, and no half-written file stays behind.
TEST_F(SettingsFileTest, SavingRenamesANewFileOverTheOld) {
    WriteFile(ini, {'i', 'n', 'i'});
    const int reader = ::open(ini.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    Save(PageValues());
    char seen[8] = {};
    EXPECT_EQ(::pread(reader, seen, sizeof seen, 0), 3);
    EXPECT_EQ(std::string(seen, 3), "ini");
    ::close(reader);
    EXPECT_EQ(Load(), PageValues());
    EXPECT_EQ(ReadFile(old), (Bytes{'i', 'n', 'i'}));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(ini.parent_path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"kelvane.ini", "kelvane.old"}));
    EXPECT_TRUE(errors.empty());
}

// A link planted where kelvane.ini belongs is neither read nor written through.
TEST_F(SettingsFileTest, ALinkInTheFilesPlaceIsNotFollowed) {
    Save(PageValues());
    std::filesystem::rename(ini, dir / "victim");
    const Bytes victim = ReadFile(dir / "victim");
    std::filesystem::create_symlink(dir / "victim", ini);
    EXPECT_EQ(Load(), PageDefaults());
    Save(PageDefaults());
    EXPECT_EQ(ReadFile(dir / "victim"), victim);
    EXPECT_FALSE(std::filesystem::is_symlink(ini));
    EXPECT_EQ(Load(), PageDefaults());
}

TEST_F(SettingsFileTest, MissingOrEmptyFileKeepsTheDefaultsSilently) {
    EXPECT_EQ(Load(), PageDefaults());
    WriteFile(ini, {});
    EXPECT_EQ(Load(), PageDefaults());
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingsFileTest, AFileCutInsideRecord5KeepsRecords1To4) {
    Save(PageValues());
    const Bytes whole = ReadFile(ini);
    const std::size_t record5 = 9 + 20 + 22 + 32;
    // Flag and part of the boot path: the firmware page must keep its defaults.
    WriteFile(ini, Bytes(whole.begin(), whole.begin() + record5 + 4 + 5));

    const auto loaded = Load();
    auto expected = PageValues();
    for (std::size_t i = 4; i < expected.size(); ++i) expected[i] = PageDefaults()[i];
    EXPECT_EQ(loaded, expected);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("kelvane.ini"), std::string::npos) << errors[0];
}

TEST_F(SettingsFileTest, SavingKeepsThePreviousFileAsBackup) {
    const struct {
        const char* name;
        bool iniBefore;
        bool oldBefore;
    } cases[] = {{"both", true, true}, {"ini only", true, false}, {"old only", false, true}, {"none", false, false}};
    for (const auto& c : cases) {
        std::filesystem::remove(ini);
        std::filesystem::remove(old);
        if (c.iniBefore) WriteFile(ini, {'i', 'n', 'i'});
        if (c.oldBefore) WriteFile(old, {'o', 'l', 'd'});
        Save(PageValues());
        EXPECT_EQ(Load(), PageValues()) << c.name;
        EXPECT_EQ(std::filesystem::exists(old), c.iniBefore) << c.name;
        if (c.iniBefore) {
            EXPECT_EQ(ReadFile(old), (Bytes{'i', 'n', 'i'})) << c.name;
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingsFileTest, FailedCreateAsksUntilRetrySucceedsOrCancel) {
    const auto folder = dir / "later";
    ini = folder / "kelvane.ini";
    old = folder / "kelvane.old";

    Save(PageValues());                                   // Cancel at once
    EXPECT_EQ(asks, 1);
    EXPECT_FALSE(std::filesystem::exists(ini));

    asks = 0;
    ui.askRetry = [&] {
        if (++asks == 3) std::filesystem::create_directory(folder);
        return true;
    };
    Save(PageValues());
    EXPECT_EQ(asks, 3);
    EXPECT_EQ(Load(), PageValues());
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingsFileTest, WorksWithoutCallbacks) {
    ui = {};
    WriteFile(ini, {1, 0, 0});
    EXPECT_EQ(Load(), PageDefaults());                    // damaged: nothing shown, nothing kept
    ini = dir / "missing" / "kelvane.ini";
    Save(PageValues());
    EXPECT_FALSE(std::filesystem::exists(ini));
}

}  // namespace
}  // namespace archive
