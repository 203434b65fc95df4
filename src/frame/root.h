// The plugin's root object: owns the fields, keeps the host's parameters and answers every
// value request, with a per-file cache of result records.
#pragma once

#include "frame/cache.h"
#include "frame/field.h"
#include "frame/wdx.h"
#include "platform/platform.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class TkestWDXRoot {
public:
    TkestWDXRoot() = default;
    virtual ~TkestWDXRoot();
    TkestWDXRoot(const TkestWDXRoot&) = delete;
    TkestWDXRoot& operator=(const TkestWDXRoot&) = delete;

    // Adds the full-text field; runs once the concrete root has registered its own fields.
    virtual void CreateDefaultFields();
    virtual void SetDefaultParams(const TkestWDXDefaultParams& AParams);
    // The 8-bit detect string; shortened to the host's buffer by the export.
    virtual std::string GetDetectString(int AMaxLen) = 0;
    // A new record for the file. Never fails for a missing or unreadable file (such a file
    // gets a record whose fields are empty), and touches neither the cache nor its lock.
    virtual std::unique_ptr<TkestWDXData> AnalyseFile(const std::u16string& AFileName) = 0;

    // The value dispatch behind ContentGetValue and ContentGetValueW.
    int GetFieldValue(const std::u16string& AFileName, int AFieldIndex, int AUnitIndex, void* AValue, int AMaxLen,
                      int AFlags, bool AWide);

    int FieldCount() const { return static_cast<int>(FieldList.size()); }
    TkestWDXField& GetField(int AIndex) const { return *FieldList.at(static_cast<std::size_t>(AIndex)); }
    std::uint32_t HostVersion() const { return VersionHigh.load(std::memory_order_relaxed); }
    TkestWDXDefaultParams DefaultParams() const;

protected:
    // Creates a field of class F and registers it as the next index.
    template <class F>
    F& AddField() {
        auto field = std::make_unique<F>(this);
        F& result = *field;
        FieldList.push_back(std::move(field));
        return result;
    }

private:
    std::shared_ptr<TkestWDXData> CachedRecord(const std::u16string& AFileName);

    std::vector<std::unique_ptr<TkestWDXField>> FieldList;
    TkestWDXCache Cache;
    mutable platform::SharedMutex Lock;  // guards Cache and Params
    TkestWDXDefaultParams Params{};
    std::atomic<std::uint32_t> VersionHigh{0};
};

// The process-wide root behind the exports; nullptr until one is installed.
TkestWDXRoot* GlobalRoot();
// Finishes the root's construction (CreateDefaultFields) and makes it the global root,
// freeing any previous one.
void InstallRoot(std::unique_ptr<TkestWDXRoot> ARoot);
// Frees the global root.
void RemoveRoot();
