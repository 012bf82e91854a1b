// kelvane.ini is read back from disk at every start: any bytes must give either the
// records or one archive error, and every text read must store and read back the same.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "archive/SettingsFile.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckRoundTrip(const std::string& text) {
    std::vector<std::uint8_t> stored;
    archive::CArchive out(stored);
    out.WriteString(text);
    out.Flush();
    archive::CArchive in{std::span<const std::uint8_t>(stored)};
    Check(in.ReadString() == text);
}

// A record of the given shape: 'i' a 32-bit value, 't' a text, 'p' the password page's
// flag with its text only when the flag is set.
class ShapeRecord : public archive::SettingsRecord {
public:
    explicit ShapeRecord(const char* shape) : shape_(shape) {}
    void Save(archive::CArchive&) override {}
    void Load(archive::CArchive& ar) override {
        for (const char* c = shape_; *c; ++c) {
            if (*c == 'i') {
                static_cast<void>(ar.ReadInt32());
            } else if (*c == 't' || ar.ReadInt32() != 0) {
                CheckRoundTrip(ar.ReadString());
            }
        }
    }

private:
    const char* shape_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The pages' records in file order.
    ShapeRecord pages[] = {ShapeRecord("p"),     ShapeRecord("iiiii"), ShapeRecord("ttt"),
                           ShapeRecord("ttttt"), ShapeRecord("itt"),   ShapeRecord(""),
                           ShapeRecord("iiiiiiii"), ShapeRecord("t")};
    std::vector<archive::SettingsRecord*> records;
    for (auto& page : pages) records.push_back(&page);

    int reports = 0;
    archive::SettingsUi ui;
    ui.reportError = [&](const std::string&) { ++reports; };
    archive::CArchive ar{std::span<const std::uint8_t>(data, size)};
    const std::size_t done = archive::LoadRecords(ar, records, ui, "kelvane.ini");
    Check(reports == (done == records.size() ? 0 : 1));
    return 0;
}
