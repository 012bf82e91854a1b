// Parameter files come from disk and from the target: any bytes must load, and every
// access by id must stay inside the block whatever the rows claim.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fdp/param/ParamStore.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void Exercise(param::CParamStore& store, std::uint16_t id, std::span<const std::uint8_t> data) {
    std::uint8_t buffer[param::kImageSize];
    std::uint16_t length = 0;
    if (store.GetParam(id, buffer, length)) {
        const auto offset = store.ValueOffset(id);
        Check(offset.has_value() && *offset + length <= param::kImageSize);
    }
    static_cast<void>(store.GetDword(id));
    Check(store.GetString(id).size() < 64);
    param::DescText text{};
    static_cast<void>(store.GetDescription(id, text));
    static_cast<void>(store.SetParam(id, data.first(std::min<std::size_t>(data.size(), 80))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    param::CParamStore store;
    store.Init({}, {});
    store.LoadBlock(bytes);
    const std::size_t loaded = std::min(size, param::kBlockSize);
    Check(std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(loaded),
                     store.Block().bytes.begin()));

    // Every id the rows name, once, and a few they may not.
    std::vector<std::uint16_t> ids = {0, 1, 2, 3, 8, 64, 101, 128, 300, 0xFFFF};
    for (int row = 0; row < param::kMaxRows; ++row) ids.push_back(store.Block().Row(row).id);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    for (const std::uint16_t id : ids) Exercise(store, id, bytes);

    if (size >= 10) {
        const param::ParamDesc row{static_cast<std::uint16_t>(data[0] | data[1] << 8),
                                   static_cast<std::uint16_t>(data[2]),
                                   static_cast<std::uint16_t>(data[3] | data[4] << 8),
                                   static_cast<std::uint16_t>(data[5])};
        const int index = static_cast<std::int8_t>(data[6]) * 3;
        param::DescText text{};
        static_cast<void>(store.AddParam(index, row, bytes.subspan(7, data[7] % (size - 7)), text));
        Exercise(store, row.id, bytes);
    }
    return 0;
}
