// Coefficient maps of a progressive frame (T.81 G.1.2): what earlier scans left in each
// block, kept only as far as later scans depend on it. The bits a refinement scan holds for
// a block depend on which of its AC coefficients are non-zero (T.81 G.1.2.3), never on
// their values, and nothing depends on the DC values at all; so a block is one 64-bit mask,
// bit k set when the coefficient at zigzag index k is non-zero in its 16-bit form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes all maps of one parser may hold together: far less where the address space is
// 32 bits. A frame whose maps would need more ends the parse like a failed allocation.
inline constexpr std::uint64_t kCoefficientMapLimit =
    sizeof(void*) >= 8 ? std::uint64_t{512} << 20 : std::uint64_t{64} << 20;

// A grid of equal elements, row-major. Resizing keeps the elements both grids share and
// makes new ones zero; a column or row count of 0 frees the storage.
class TkestJpegMap {
public:
    std::int32_t Columns() const { return ColumnCount; }
    std::int32_t Rows() const { return RowCount; }
    // Bytes held.
    std::uint64_t DataSize() const { return Data.size() * sizeof(std::uint64_t); }
    static std::uint64_t BytesFor(std::int64_t AColumns, std::int64_t ARows) {
        return AColumns <= 0 || ARows <= 0 ? 0
                                           : static_cast<std::uint64_t>(AColumns) * static_cast<std::uint64_t>(ARows) *
                                                 sizeof(std::uint64_t);
    }

    void SetColumns(std::int32_t AColumns) { Resize(AColumns, RowCount); }
    void SetRows(std::int32_t ARows) { Resize(ColumnCount, ARows); }
    void Clear() { Resize(0, 0); }

    // The element at grid column AX of row AY; both must lie inside the grid.
    std::uint64_t& GetRealValue(std::int32_t AX, std::int32_t AY) {
        return Data[static_cast<std::size_t>(AY) * static_cast<std::size_t>(ColumnCount) + static_cast<std::size_t>(AX)];
    }
    // Row AY (ColumnCount elements).
    std::uint64_t* Row(std::int32_t AY) { return Data.data() + static_cast<std::size_t>(AY) * static_cast<std::size_t>(ColumnCount); }

protected:
    void Resize(std::int32_t AColumns, std::int32_t ARows);

private:
    std::vector<std::uint64_t> Data;
    std::int32_t ColumnCount = 0;
    std::int32_t RowCount = 0;
};

// The blocks of one frame component, addressed by MCU as the scan decoding meets them, with
// the geometry of the scan it was last set up for.
class TkestMCUs : public TkestJpegMap {
public:
    std::int32_t McusAcross = 0, McusDown = 0;
    std::int32_t McuWidth = 0, McuHeight = 0;
    std::int32_t BlocksAcross = 0, BlocksDown = 0, BlocksPerMcu = 0;
    std::int32_t BlockWidth = 0, BlockHeight = 0;
    std::int32_t HRatio = 0, VRatio = 0;

    struct Geometry {
        std::int32_t McusAcross, McusDown, McuWidth, McuHeight, BlocksAcross, BlocksDown, BlockWidth, BlockHeight,
            HRatio, VRatio;
    };

    // Takes the geometry of a scan component and sizes the grid to McusAcross*BlocksAcross
    // columns by McusDown*BlocksDown rows. Throws std::bad_alloc when the grid would need
    // more than ABudget bytes.
    void Setup(const Geometry& AGeometry, std::uint64_t ABudget);
    // Changes McusDown (a frame whose height comes from DNL grows while it is decoded).
    void SetMcuRows(std::int32_t AMcusDown, std::uint64_t ABudget);

    // The block AComponentIndex (raster order within the MCU) of the MCU in column AX, row AY.
    std::uint64_t& GetValue(std::int32_t AX, std::int32_t AY, std::int32_t AComponentIndex) {
        return GetRealValue(AX * BlocksAcross + AComponentIndex % BlocksAcross,
                            AY * BlocksDown + AComponentIndex / BlocksAcross);
    }
};
