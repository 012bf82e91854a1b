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

CParamStore::CParamStore() : m_block(MakeStandardBlock()) {}

CParamStore::~CParamStore() = default;

void CParamStore::Reset() { m_block.bytes.fill(0); }

void CParamStore::Init(std::filesystem::path paramPath, std::filesystem::path defaultPath) {
    m_paramPath = std::move(paramPath);
    m_defaultPath = std::move(defaultPath);
    Reset();
}

bool CParamStore::LoadParam() { return Load(m_paramPath); }

bool CParamStore::LoadDefault() { return Load(m_defaultPath); }

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
    std::copy_n(fileBytes.begin(), count, m_block.bytes.begin());

    const auto image = m_block.Image();
    std::copy_n(image.begin() + kFormatImageOffset, m_view.format.size(), m_view.format.begin());
    const auto versionSlot = m_block.Slot(0).first<kVersionTextSize>();
    const auto versionEnd = std::find(versionSlot.begin(), versionSlot.end(), std::uint8_t{0});
    m_view.version.assign(versionSlot.begin(), versionEnd);
    m_view.rowCount = static_cast<std::int32_t>(fdp::ReadLe32(image.data() + kRowCountImageOffset));
    m_view.bound = true;
}

bool CParamStore::SaveParam() {
    if (m_paramPath.empty()) return false;
    return WriteParamFile(m_paramPath, m_block.bytes);
}

void CParamStore::SetBlock(std::span<const std::uint8_t> block) {
    std::copy_n(block.begin(), std::min(block.size(), kBlockSize), m_block.bytes.begin());
}

bool CParamStore::RowCountValid() const { return m_view.rowCount >= 0 && m_view.rowCount <= kMaxRows; }

std::optional<ParamDesc> CParamStore::FindDesc(std::uint16_t id) const {
    if (!RowCountValid()) return std::nullopt;
    for (int row = m_view.rowCount - 1; row >= 0; --row) {
        const ParamDesc desc = m_block.Row(row);
        if (desc.id == id) return desc;
    }
    return std::nullopt;
}

std::optional<std::size_t> CParamStore::ValueOffset(std::uint16_t id) const {
    if (!RowCountValid()) return std::nullopt;
    std::size_t offset = 0;
    for (int row = 0; row < m_view.rowCount; ++row) {
        const ParamDesc desc = m_block.Row(row);
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
    std::copy_n(m_block.Image().begin() + static_cast<std::ptrdiff_t>(value->offset), value->length,
                buffer.begin());
    length = static_cast<std::uint16_t>(value->length);
    // The row's type flag is the sign of success: a row without one copies its value
    // but answers false.
    return value->type != 0;
}

bool CParamStore::SetParam(std::uint16_t id, std::span<const std::uint8_t> data) {
    const std::optional<ValueRange> value = FindValue(id);
    if (!value || data.size() > value->length) return false;
    const auto target = m_block.Image().subspan(value->offset, value->length);
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
    if (id == 0 || id > m_view.rowCount) return false;
    const std::optional<ParamDesc> desc = FindDesc(id);
    if (!desc || desc->descIndex >= kSlotCount) return false;
    const auto slot = m_block.Slot(desc->descIndex);
    std::transform(slot.begin(), slot.end(), text.begin(), [](std::uint8_t b) { return static_cast<char>(b); });
    return true;
}

bool CParamStore::SetDescription(std::size_t index, const DescText& text) {
    if (index >= kSlotCount) return false;
    std::transform(text.begin(), text.end(), m_block.Slot(index).begin(),
                   [](char c) { return static_cast<std::uint8_t>(c); });
    return true;
}

std::array<std::uint16_t, 4> CParamStore::GetVersion() const { return {1, 8, 4, 2}; }

bool CParamStore::AddParam(int index, const ParamDesc& row, std::span<const std::uint8_t> data,
                           const DescText& text) {
    if (!m_view.bound || index < 0 || index >= kMaxRows) return false;
    m_block.SetRow(index, row);
    if (index >= m_view.rowCount) m_view.rowCount = index + 1;
    return SetParam(row.id, data) && SetDescription(row.descIndex, text);
}

}  // namespace param
