#include "frame/cache.h"

#include "platform/platform.h"

TkestWDXList::~TkestWDXList() { Clear(); }

void TkestWDXList::Add(std::unique_ptr<TkestWDXListItem> AItem) {
    if (const int index = IndexOf(AItem->Name); index >= 0) Delete(index);
    ItemList.push_back(std::move(AItem));
    Added();
}

TkestWDXListItem* TkestWDXList::Find(std::u16string_view AName) const {
    const int index = IndexOf(AName);
    return index >= 0 ? ItemList[static_cast<std::size_t>(index)].get() : nullptr;
}

void TkestWDXList::Clear() {
    while (!ItemList.empty()) ItemList.pop_back();  // last first
}

int TkestWDXList::IndexOf(std::u16string_view AName) const {
    for (int index = Count() - 1; index >= 0; --index)
        if (platform::SameFileName(ItemList[static_cast<std::size_t>(index)]->Name, AName)) return index;
    return -1;
}

void TkestWDXList::Delete(int AIndex) { ItemList.erase(ItemList.begin() + AIndex); }

void TkestWDXList::MoveToEnd(int AIndex) {
    auto item = std::move(ItemList[static_cast<std::size_t>(AIndex)]);
    ItemList.erase(ItemList.begin() + AIndex);
    ItemList.push_back(std::move(item));
}

void TkestWDXCache::Add(const std::u16string& AName, std::shared_ptr<TkestWDXData> AData, std::uint64_t ATimeStamp) {
    TkestWDXList::Add(std::make_unique<TkestWDXCacheItem>(this, AName, std::move(AData), ATimeStamp));
}

void TkestWDXCache::Added() {
    while (Count() > Capacity) Delete(0);  // the least recently used
}

TkestWDXCacheItem* TkestWDXCache::Find(std::u16string_view AName, std::uint64_t AWriteTime) const {
    auto* item = static_cast<TkestWDXCacheItem*>(TkestWDXList::Find(AName));
    return item && item->IsValid(AWriteTime) ? item : nullptr;
}

std::shared_ptr<TkestWDXData> TkestWDXCache::Touch(std::u16string_view AName, std::uint64_t AWriteTime) {
    const int index = IndexOf(AName);
    if (index < 0) return nullptr;
    auto& item = static_cast<TkestWDXCacheItem&>(GetItem(index));
    if (!item.IsValid(AWriteTime)) {
        Delete(index);
        return nullptr;
    }
    auto data = item.Data;
    MoveToEnd(index);
    return data;
}
