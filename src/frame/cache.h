// Keyed lists of result records and the per-file cache built on them.
#pragma once

#include "frame/field.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TkestWDXList;

// One keyed entry. The record is shared: a reader that took it keeps it alive even when
// the entry is freed meanwhile.
class TkestWDXListItem {
public:
    TkestWDXListItem(TkestWDXList* AOwner, std::u16string AName, std::shared_ptr<TkestWDXData> AData)
        : Owner(AOwner), Name(std::move(AName)), Data(std::move(AData)) {}
    virtual ~TkestWDXListItem() = default;

    TkestWDXList* const Owner;
    const std::u16string Name;  // the file name exactly as the host passed it
    const std::shared_ptr<TkestWDXData> Data;
};

// Items in order of arrival, oldest first; names compare by the platform's file-name rule.
class TkestWDXList {
public:
    virtual ~TkestWDXList();

    // Frees any item of the same name, then appends a new one.
    void Add(std::unique_ptr<TkestWDXListItem> AItem);
    // The last item whose name matches, or nullptr.
    TkestWDXListItem* Find(std::u16string_view AName) const;
    void Clear();

    int Count() const { return static_cast<int>(ItemList.size()); }
    TkestWDXListItem& GetItem(int AIndex) const { return *ItemList.at(static_cast<std::size_t>(AIndex)); }

protected:
    virtual void Added() {}
    // Index of the last item named AName, or -1.
    int IndexOf(std::u16string_view AName) const;
    void Delete(int AIndex);
    void MoveToEnd(int AIndex);

private:
    std::vector<std::unique_ptr<TkestWDXListItem>> ItemList;
};

// A cached record with the file's last-write time when the analysis began.
class TkestWDXCacheItem final : public TkestWDXListItem {
public:
    TkestWDXCacheItem(TkestWDXList* AOwner, std::u16string AName, std::shared_ptr<TkestWDXData> AData,
                      std::uint64_t ATimeStamp)
        : TkestWDXListItem(AOwner, std::move(AName), std::move(AData)), TimeStamp(ATimeStamp) {}

    // Valid while the file's last-write time is unchanged.
    bool IsValid(std::uint64_t AWriteTime) const { return AWriteTime == TimeStamp; }

    const std::uint64_t TimeStamp;  // 100-ns units; 0 when it could not be read
};

// The most recently used records, at most Capacity of them. The caller reads the file's
// last-write time once per request and passes it in, so that no file-system call happens
// while the cache's lock is held.
class TkestWDXCache final : public TkestWDXList {
public:
    static constexpr int Capacity = 100;

    void Add(const std::u16string& AName, std::shared_ptr<TkestWDXData> AData, std::uint64_t ATimeStamp);
    // The valid entry of this name, or nullptr; reorders nothing.
    TkestWDXCacheItem* Find(std::u16string_view AName, std::uint64_t AWriteTime) const;
    // The valid entry's record, moved to the most recently used end; a stale entry is freed.
    std::shared_ptr<TkestWDXData> Touch(std::u16string_view AName, std::uint64_t AWriteTime);
    bool IsNewest(const TkestWDXListItem& AItem) const { return Count() > 0 && &GetItem(Count() - 1) == &AItem; }

private:
    void Added() override;
};
