#include "jpeg/coefficients.h"

#include <algorithm>
#include <new>

void TkestJpegMap::Resize(std::int32_t AColumns, std::int32_t ARows) {
    if (AColumns <= 0 || ARows <= 0) {
        std::vector<std::uint64_t>().swap(Data);
        ColumnCount = std::max(AColumns, 0);
        RowCount = std::max(ARows, 0);
        return;
    }
    if (AColumns == ColumnCount) {
        // Rows only: existing rows stay in place, new rows are zero.
        Data.resize(static_cast<std::size_t>(AColumns) * static_cast<std::size_t>(ARows));
        RowCount = ARows;
        return;
    }
    std::vector<std::uint64_t> grown(static_cast<std::size_t>(AColumns) * static_cast<std::size_t>(ARows));
    const std::size_t keepColumns = static_cast<std::size_t>(std::min(AColumns, ColumnCount));
    const std::int32_t keepRows = std::min(ARows, RowCount);
    for (std::int32_t y = 0; y < keepRows; ++y) {
        const std::uint64_t* from = Row(y);
        std::copy(from, from + keepColumns, grown.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(AColumns));
    }
    Data.swap(grown);
    ColumnCount = AColumns;
    RowCount = ARows;
}

void TkestMCUs::Setup(const Geometry& AGeometry, std::uint64_t ABudget) {
    const std::int64_t columns = std::int64_t{AGeometry.McusAcross} * AGeometry.BlocksAcross;
    const std::int64_t rows = std::int64_t{AGeometry.McusDown} * AGeometry.BlocksDown;
    if (BytesFor(columns, rows) > ABudget || columns > INT32_MAX || rows > INT32_MAX) throw std::bad_alloc();
    McusAcross = AGeometry.McusAcross;
    McusDown = AGeometry.McusDown;
    McuWidth = AGeometry.McuWidth;
    McuHeight = AGeometry.McuHeight;
    BlocksAcross = AGeometry.BlocksAcross;
    BlocksDown = AGeometry.BlocksDown;
    BlocksPerMcu = BlocksAcross * BlocksDown;
    BlockWidth = AGeometry.BlockWidth;
    BlockHeight = AGeometry.BlockHeight;
    HRatio = AGeometry.HRatio;
    VRatio = AGeometry.VRatio;
    Resize(static_cast<std::int32_t>(columns), static_cast<std::int32_t>(rows));
}

void TkestMCUs::SetMcuRows(std::int32_t AMcusDown, std::uint64_t ABudget) {
    const std::int64_t rows = std::int64_t{AMcusDown} * BlocksDown;
    if (BytesFor(Columns(), rows) > ABudget || rows > INT32_MAX) throw std::bad_alloc();
    McusDown = AMcusDown;
    SetRows(static_cast<std::int32_t>(rows));
}
