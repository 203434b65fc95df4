#include "frame/root.h"

#include "frame/buffer.h"

#include <mutex>
#include <shared_mutex>

namespace {
constinit std::unique_ptr<TkestWDXRoot> Global;
}

TkestWDXRoot* GlobalRoot() { return Global.get(); }

void InstallRoot(std::unique_ptr<TkestWDXRoot> ARoot) {
    ARoot->CreateDefaultFields();
    Global = std::move(ARoot);
}

void RemoveRoot() { Global.reset(); }

TkestWDXRoot::~TkestWDXRoot() {
    while (!FieldList.empty()) FieldList.pop_back();  // last index first
}

void TkestWDXRoot::CreateDefaultFields() { AddField<TkestWDXFullTextField>(); }

void TkestWDXRoot::SetDefaultParams(const TkestWDXDefaultParams& AParams) {
    std::unique_lock guard(Lock);
    Params = AParams;
    VersionHigh.store(AParams.VersionHigh, std::memory_order_relaxed);
}

TkestWDXDefaultParams TkestWDXRoot::DefaultParams() const {
    std::shared_lock guard(Lock);
    return Params;
}

// The record for the file: the cached one while the file's last-write time is unchanged,
// else a new analysis. Only lookups and reordering hold the lock; the analysis runs
// without it, and the record stays alive for the caller even if it is evicted meanwhile.
std::shared_ptr<TkestWDXData> TkestWDXRoot::CachedRecord(const std::u16string& AFileName) {
    const std::uint64_t writeTime = platform::FileWriteTime(AFileName);
    {
        // The common case, many fields of the file asked last, needs no reordering.
        std::shared_lock guard(Lock);
        const auto* item = Cache.Find(AFileName, writeTime);
        if (item && Cache.IsNewest(*item)) return item->Data;
    }
    {
        std::unique_lock guard(Lock);
        if (auto record = Cache.Touch(AFileName, writeTime)) return record;
    }
    std::shared_ptr<TkestWDXData> record = AnalyseFile(AFileName);
    std::unique_lock guard(Lock);
    Cache.Add(AFileName, record, writeTime);
    return record;
}

int TkestWDXRoot::GetFieldValue(const std::u16string& AFileName, int AFieldIndex, int AUnitIndex, void* AValue,
                                int AMaxLen, int AFlags, bool AWide) {
    if (AFieldIndex < 0 || AFieldIndex >= FieldCount()) return ft_nosuchfield;
    TkestWDXField& field = GetField(AFieldIndex);

    if ((AFlags & CONTENT_DELAYIFSLOW) != 0 && field.IsSlow(AFileName, AUnitIndex)) {
        if (AWide ? !HasRoomForWide(AMaxLen) : !HasRoomForAnsi(AMaxLen)) return ft_fieldempty;
        const std::u16string text = field.GetDelayedText(AFileName, AUnitIndex);
        if (AWide)
            CopyWideToBuffer(text, AValue, AMaxLen);
        else
            CopyAnsiToBuffer(platform::WideToAnsi(text), AValue, AMaxLen);
        return ft_delayed;
    }

    const std::shared_ptr<TkestWDXData> record = CachedRecord(AFileName);
    if (field.IsEmpty(*record, AUnitIndex, AFlags)) return ft_fieldempty;
    const TkestWDXRequest request{AFileName, AUnitIndex, AValue, AMaxLen, AFlags, AWide};
    return field.FetchValue(request, *record);
}
