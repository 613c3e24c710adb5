#pragma once
// The host's settings store: one XML document, read and written with our XML code.
//
//   <SettingsStore>
//     <Instance ID="1">
//       <Settings>
//         <IPAddress value="127.0.0.1"/>
//         <S0>
//           <VarName value=""/>
//
// Every value is the attribute `value` of an element named after its key, below one element per
// section of its path, below the element of its instance. Values are kept byte for byte; the few
// that the XML escapes cannot carry (a zero byte, a line break followed by "lf&" and the like)
// are stored as `hex` instead. Names match ASCII case-insensitively, as lookups in our XML tree do.
// A UTF-8 byte order mark before the document (Windows editors save one) is read and not written.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "StoreFile.h"
#include "xml/ECXMLParser.h"

namespace zelhost {

// The store file exists but is not a settings store; it is never overwritten.
class EStoreCorrupt : public EStoreError {
public:
    using EStoreError::EStoreError;
};

// A section or key name that the store cannot hold as an element name.
bool ValidName(std::string_view name) noexcept;
// Sections a key may have below its instance; the XML loader refuses much deeper nesting anyway.
constexpr size_t MaxSections = 64;

class TSettingsStore {
public:
    struct TValue {
        std::string Key;  // sections and key joined by "/"
        std::string Value;
    };

    explicit TSettingsStore(std::string fileName);
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    const std::string& FileName() const noexcept { return FFileName; }

    // Reads the file; a missing file is an empty store. EStoreCorrupt / EStoreError, also for a FIFO,
    // a device or anything else that is not a regular file, and for a file over kMaxStoreBytes.
    void Load();
    // Replaces the contents with a document held in memory (EStoreCorrupt).
    void LoadFromString(std::string_view document);

    // False when nothing is stored there (or a name is not valid); `value` is then left alone.
    bool Read(uint16_t instance, std::span<const std::string_view> path, std::string_view key,
              std::string& value) const;
    // False, changing nothing, when a name is not valid.
    bool Write(uint16_t instance, std::span<const std::string_view> path, std::string_view key,
               std::string_view value);
    // The instances that have values, in store order (ascending).
    std::vector<uint16_t> Instances() const;
    // The instance's values in store order (depth first, as the document lists them).
    std::vector<TValue> Values(uint16_t instance) const;

    // True when a write changed the store since it was last loaded or saved.
    bool Dirty() const noexcept { return FDirty; }
    std::string Document() const;
    // Writes the document atomically and clears Dirty (EStoreError).
    void Save();
    // Saves when dirty.
    void Flush() {
        if (FDirty) Save();
    }

    // Called after each write that changed the store.
    std::function<void()> OnChanged;

private:
    zel::TXMLItem* FindInstance(uint16_t instance) const;
    zel::TXMLItem* InstanceForWrite(uint16_t instance);

    std::string FFileName;
    // The document itself is the model: reads walk it, writes change it, saving writes it out.
    mutable zel::TECXMLParser FDocument;
    bool FDirty = false;
};

}  // namespace zelhost
