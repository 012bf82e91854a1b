// CParamStore: the parameter block in memory, read and written by parameter id, and
// its binding to the working file param.jdp and the default file default.jdp.
//
// Use from one thread (the user-interface thread); there are no locks. A new store
// holds the built-in block with an unbound view; Init zeroes the block, so what the
// pages see afterwards always comes from a successful LoadParam. Until a load has
// bound the view every lookup by id fails.
//
// The virtual operations keep the system's slot order so that a test can stand in for
// the store. No operation shows anything; failure is the result, and a failed
// operation leaves the block as it was (AddParam keeps the steps done before the one
// that failed).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "fdp/param/ParamBlock.h"
#include "fdp/param/ParamView.h"

namespace param {

class CParamStore {
public:
    CParamStore();
    virtual ~CParamStore();
    CParamStore(const CParamStore&) = delete;
    CParamStore& operator=(const CParamStore&) = delete;

    // Zeroes the whole block; the view stays as it is.
    virtual void Reset();
    // Remembers the working and default file paths, then zeroes the block.
    virtual void Init(std::filesystem::path paramPath, std::filesystem::path defaultPath);
    // Read the working (default) file over the block and bind the view. A file shorter
    // than 8192 bytes replaces only the bytes it holds; bytes past 8191 are ignored.
    // False, with block and view unchanged, when the file cannot be opened exclusively
    // or read.
    virtual bool LoadParam();
    virtual bool LoadDefault();
    // Writes the block over the start of the existing working file; never creates it.
    virtual bool SaveParam();
    // Copies the caller's block (at most 8192 bytes) over the block without rebinding
    // the view.
    virtual void SetBlock(std::span<const std::uint8_t> block);

    // Typed reads of a value, little-endian as stored; bytes the value does not have
    // read as zero. 0 (an empty text) for an unknown id or a value over 64 bytes, so a
    // failed read and a zero value look alike. GetString stops at the first NUL and
    // returns at most 63 characters.
    virtual std::uint8_t GetByte(std::uint16_t id) const;
    virtual std::uint16_t GetWord(std::uint16_t id) const;
    virtual std::uint32_t GetDword(std::uint16_t id) const;
    virtual std::string GetString(std::uint16_t id) const;

    // Copies the whole value into buffer and sets length to the value's length; true
    // only when the row's type flag is not zero (a row of type 0 is copied all the
    // same). Fails, copying nothing, for an unknown id or a buffer shorter than the value.
    virtual bool GetParam(std::uint16_t id, std::span<std::uint8_t> buffer, std::uint16_t& length) const;
    // Replaces the value: the given bytes, then NULs up to the value's length. A value
    // of full length has no terminator. Fails, changing nothing, for an unknown id or
    // more bytes than the value holds.
    virtual bool SetParam(std::uint16_t id, std::span<const std::uint8_t> data);
    // The 64-byte description of the id's row. Fails for id 0, for an id greater than
    // the row count (the id itself is compared, so ids 101-128 of the standard block
    // have no description), and for a row whose slot lies past the description area.
    virtual bool GetDescription(std::uint16_t id, DescText& text) const;
    // Slot 0 is the version text. Fails for an index of 64 or more.
    virtual bool SetDescription(std::size_t index, const DescText& text);
    // The interface's own version: 1, 8, 4, 2.
    virtual std::array<std::uint16_t, 4> GetVersion() const;
    // Writes row index (below 256), raising the view's row count to index + 1 when the
    // row lies past it (parameter 2 in the image stays), then sets the value and the
    // description slot. Fails while the view is unbound.
    virtual bool AddParam(int index, const ParamDesc& row, std::span<const std::uint8_t> data,
                          const DescText& text);

    // A text value (see SetParam), as the pages write names, passwords and codes.
    bool SetText(std::uint16_t id, std::string_view text);

    // The bytes of a parameter file, loaded as LoadParam loads the file's contents.
    void LoadBlock(std::span<const std::uint8_t> fileBytes);

    // The id's descriptor row: the last row in table order that carries the id. None
    // when the view's row count is negative or above 256.
    std::optional<ParamDesc> FindDesc(std::uint16_t id) const;
    // Where the id's value starts in the value image: the first row that carries it,
    // after the lengths of all rows before it. None once the running offset passes the
    // image's end.
    std::optional<std::size_t> ValueOffset(std::uint16_t id) const;

    const ParamBlock& Block() const { return m_block; }
    const ParamView& View() const { return m_view; }
    const std::filesystem::path& ParamPath() const { return m_paramPath; }
    const std::filesystem::path& DefaultPath() const { return m_defaultPath; }

private:
    bool Load(const std::filesystem::path& path);
    struct ValueRange {
        std::size_t offset;
        std::size_t length;
        std::uint16_t type;   // of the row that gave the length
    };
    // Where the id's value lies in the image, provided all of it lies inside.
    std::optional<ValueRange> FindValue(std::uint16_t id) const;
    bool RowCountValid() const;

    ParamBlock m_block;
    ParamView m_view;
    std::filesystem::path m_paramPath;
    std::filesystem::path m_defaultPath;
};

}  // namespace param
