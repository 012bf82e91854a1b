#include "fdp/param/ParamBlock.h"

#include "fdp/Frame.h"

namespace param {

using fdp::ReadLe16;
using fdp::WriteLe16;

ParamDesc ParamBlock::Row(int row) const {
    const std::uint8_t* p = bytes.data() + kDescTableOffset + static_cast<std::size_t>(row) * kRowSize;
    return {ReadLe16(p), ReadLe16(p + 2), ReadLe16(p + 4), ReadLe16(p + 6)};
}

void ParamBlock::SetRow(int row, const ParamDesc& desc) {
    std::uint8_t* p = bytes.data() + kDescTableOffset + static_cast<std::size_t>(row) * kRowSize;
    WriteLe16(p, desc.id);
    WriteLe16(p + 2, desc.type);
    WriteLe16(p + 4, desc.length);
    WriteLe16(p + 6, desc.descIndex);
}

}  // namespace param
