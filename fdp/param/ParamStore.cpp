#include "fdp/param/ParamStore.h"

#include <algorithm>

#include "fdp/Frame.h"
#include "fdp/param/ParamFile.h"
#include "fdp/param/StandardBlock.h"

namespace param {
namespace {

constexpr std::size_t kTypedReadSize = 64;
constexpr std::size_t kVersionTextSize = 8;

}  // namespace

CParamStore::CParamStore() : block_(MakeStandardBlock()) {}

CParamStore::~CParamStore() = default;

void CParamStore::Reset() { block_.bytes.fill(0); }

void CParamStore::Init(std::filesystem::path paramPath, std::filesystem::path defaultPath) {
    paramPath_ = std::move(paramPath);
    defaultPath_ = std::move(defaultPath);
    Reset();
}

bool CParamStore::LoadParam() { return Load(paramPath_); }

bool CParamStore::LoadDefault() { return Load(defaultPath_); }

bool CParamStore::Load(const std::filesystem::path& path) {
    if (path.empty()) return false;
    // Read aside first, so that a failed read leaves the block as it was.
    std::array<std::uint8_t, kBlockSize> buffer{};
    const std::optional<std::size_t> got = ReadParamFile(path, buffer);
    if (!got) return false;
    LoadBlock(std::span<const std::uint8_t>(buffer.data(), *got));
    return true;
}

void CParamStore::LoadBlock(std::span<const std::uint8_t> fileBytes) {
    const std::size_t count = std::min(fileBytes.size(), kBlockSize);
    std::copy_n(fileBytes.begin(), count, block_.bytes.begin());

    const auto image = block_.Image();
    std::copy_n(image.begin() + kFormatImageOffset, view_.format.size(), view_.format.begin());
    const auto versionSlot = block_.Slot(0).first<kVersionTextSize>();
    const auto versionEnd = std::find(versionSlot.begin(), versionSlot.end(), std::uint8_t{0});
    view_.version.assign(versionSlot.begin(), versionEnd);
    view_.rowCount = static_cast<std::int32_t>(fdp::ReadLe32(image.data() + kRowCountImageOffset));
    view_.bound = true;
}

bool CParamStore::SaveParam() {
    if (paramPath_.empty()) return false;
    return WriteParamFile(paramPath_, block_.bytes);
}

void CParamStore::SetBlock(std::span<const std::uint8_t> block) {
    std::copy_n(block.begin(), std::min(block.size(), kBlockSize), block_.bytes.begin());
}

bool CParamStore::RowCountValid() const { return view_.rowCount >= 0 && view_.rowCount <= kMaxRows; }

std::optional<ParamDesc> CParamStore::FindDesc(std::uint16_t id) const {
    if (!RowCountValid()) return std::nullopt;
    for (int row = view_.rowCount - 1; row >= 0; --row) {
        const ParamDesc desc = block_.Row(row);
        if (desc.id == id) return desc;
    }
    return std::nullopt;
}

std::optional<std::size_t> CParamStore::ValueOffset(std::uint16_t id) const {
    if (!RowCountValid()) return std::nullopt;
    std::size_t offset = 0;
    for (int row = 0; row < view_.rowCount; ++row) {
        const ParamDesc desc = block_.Row(row);
        if (desc.id == id) return offset;
        offset += desc.length;
        if (offset > kImageSize) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<CParamStore::ValueRange> CParamStore::FindValue(std::uint16_t id) const {
    const std::optional<ParamDesc> desc = FindDesc(id);
    if (!desc) return std::nullopt;
    const std::optional<std::size_t> offset = ValueOffset(id);
    // With duplicate ids the length comes from the last row and the offset from the
    // first, so the end is checked as well as the start.
    if (!offset || *offset + desc->length > kImageSize) return std::nullopt;
    return ValueRange{*offset, desc->length, desc->type};
}

bool CParamStore::GetParam(std::uint16_t id, std::span<std::uint8_t> buffer, std::uint16_t& length) const {
    const std::optional<ValueRange> value = FindValue(id);
    if (!value || buffer.size() < value->length) return false;
    std::copy_n(block_.Image().begin() + static_cast<std::ptrdiff_t>(value->offset), value->length,
                buffer.begin());
    length = static_cast<std::uint16_t>(value->length);
    // The row's type flag is the sign of success: a row without one copies its value
    // but answers false.
    return value->type != 0;
}

bool CParamStore::SetParam(std::uint16_t id, std::span<const std::uint8_t> data) {
    const std::optional<ValueRange> value = FindValue(id);
    if (!value || data.size() > value->length) return false;
    const auto target = block_.Image().subspan(value->offset, value->length);
    std::fill(target.begin(), target.end(), std::uint8_t{0});
    std::copy(data.begin(), data.end(), target.begin());
    return true;
}

bool CParamStore::SetText(std::uint16_t id, std::string_view text) {
    return SetParam(id, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

namespace {

// Reads a value into a zeroed 64-byte buffer; a failed read copies nothing.
std::array<std::uint8_t, kTypedReadSize> ReadTyped(const CParamStore& store, std::uint16_t id) {
    std::array<std::uint8_t, kTypedReadSize> buffer{};
    std::uint16_t length = 0;
    static_cast<void>(store.GetParam(id, buffer, length));
    return buffer;
}

}  // namespace

std::uint8_t CParamStore::GetByte(std::uint16_t id) const { return ReadTyped(*this, id)[0]; }

std::uint16_t CParamStore::GetWord(std::uint16_t id) const { return fdp::ReadLe16(ReadTyped(*this, id).data()); }

std::uint32_t CParamStore::GetDword(std::uint16_t id) const { return fdp::ReadLe32(ReadTyped(*this, id).data()); }

std::string CParamStore::GetString(std::uint16_t id) const {
    auto buffer = ReadTyped(*this, id);
    buffer.back() = 0;
    return std::string(reinterpret_cast<const char*>(buffer.data()));
}

bool CParamStore::GetDescription(std::uint16_t id, DescText& text) const {
    if (id == 0 || id > view_.rowCount) return false;
    const std::optional<ParamDesc> desc = FindDesc(id);
    if (!desc || desc->descIndex >= kSlotCount) return false;
    const auto slot = block_.Slot(desc->descIndex);
    std::transform(slot.begin(), slot.end(), text.begin(), [](std::uint8_t b) { return static_cast<char>(b); });
    return true;
}

bool CParamStore::SetDescription(std::size_t index, const DescText& text) {
    if (index >= kSlotCount) return false;
    std::transform(text.begin(), text.end(), block_.Slot(index).begin(),
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return true;
}

std::array<std::uint16_t, 4> CParamStore::GetVersion() const { return {1, 8, 4, 2}; }

bool CParamStore::AddParam(int index, const ParamDesc& row, std::span<const std::uint8_t> data,
                           const DescText& text) {
    if (!view_.bound || index < 0 || index >= kMaxRows) return false;
    block_.SetRow(index, row);
    if (index >= view_.rowCount) view_.rowCount = index + 1;
    return SetParam(row.id, data) && SetDescription(row.descIndex, text);
}

}  // namespace param
