#pragma once
// The XML element tree (TXMLItem) and the component that owns a document's root item, fires the
// document events and reads and writes whole documents (TECXMLParser).
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Streams.h"
#include "platform/StringList.h"
#include "xml/ECXMLTokenizer.h"

namespace zel {

class TECXMLParser;

// Deeper element nesting is refused while loading.
constexpr int MaxXMLNesting = 256;

class TXMLItem {
public:
    TXMLItem() noexcept;
    ~TXMLItem();
    // Marks the items made by new: only they may be handed to a tree, which frees them with delete.
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;
    TXMLItem(const TXMLItem&) = delete;
    TXMLItem& operator=(const TXMLItem&) = delete;

    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string name);
    const std::string& Text() const noexcept { return FText; }
    void SetText(std::string text);
    const TStringList& Params() const noexcept { return FParams; }
    void SetParams(const TStringList& params);
    int SubItemCount() const noexcept { return static_cast<int>(FSubItems.size()); }
    int Count() const noexcept { return SubItemCount(); }
    TXMLItem* Parent() const noexcept { return FParent; }
    // Re-parents the item (appended last) and gives its subtree the new tree's parser; none detaches
    // it, and the caller then owns it. EInvalidOperation when the new parent lies in the item's own
    // subtree, or when the item was not made with new (a parser's root item, an item on the stack).
    void SetParent(TXMLItem* parent);
    std::string FullName() const;

    void Clear();
    TXMLItem* New();
    void Delete(int index);
    void Move(TXMLItem* item, int newIndex);
    int IndexOf(const TXMLItem* item) const noexcept;
    int IndexOfName(std::string_view name, int startIndex = 0) const noexcept;

    TXMLItem* SubItems(int index) const;
    TECXMLParser* Parser() const noexcept { return FParser; }
    void SetParser(TECXMLParser* parser) noexcept;
    bool CrLfInAsString() const noexcept { return FCrLfInAsString; }
    void SetCrLfInAsString(bool value) noexcept { FCrLfInAsString = value; }

    // Finds or creates a descendant by name or slash-separated path; none only for an empty name.
    TXMLItem* ItemByName(std::string_view name);

    void LoadFromString(std::string_view s);
    void LoadFromStream(TStream& stream);
    void LoadFromLargeStream(TStream& stream);
    void LoadFromTokenizer(TXMLTokenizer& tokenizer);
    // True when the last load into this item left no element open (no element at all, or a top
    // element that was closed or self-closing, whatever follows it); false when the input ended
    // inside an element, when the last load raised, and when the item was never loaded.
    bool LoadComplete() const noexcept { return FLoadComplete; }

    std::string AsString(int indent);
    std::string TagText() const;
    void Changed();

private:
    template <class Tokenizer>
    void LoadWith(TStream& stream);
    void ApplyTag(std::string_view tag);
    void AppendAsString(std::string& out, int indent);
    void DestroySubItems() noexcept;

    std::string FText;
    std::string FName;
    TStringList FParams;
    std::vector<TXMLItem*> FSubItems;
    TXMLItem* FParent = nullptr;
    TECXMLParser* FParser = nullptr;
    bool FNotify = true;
    bool FCrLfInAsString = true;
    bool FLoadComplete = false;
    const bool FMadeByNew;
};

std::string EscapeText(std::string_view s);
std::string UnescapeText(std::string_view s);
std::string ExtractTagName(std::string_view tagString);
void ExtractParams(std::string_view tagString, TStringList& params);

class TECXMLParser {
public:
    using TNotifyEvent = std::function<void(TECXMLParser& sender)>;
    using TXMLItemChanged = std::function<void(TECXMLParser& sender, TXMLItem& item)>;
    using TXMLLoadSaveEvent = std::function<void(TECXMLParser& sender, bool& allow)>;

    TECXMLParser();
    ~TECXMLParser() = default;
    TECXMLParser(const TECXMLParser&) = delete;
    TECXMLParser& operator=(const TECXMLParser&) = delete;

    TXMLItem& RootItem() noexcept { return FRootItem; }
    void Clear();
    // Loads from where the stream stands. After a parser error it reads once more from there with
    // the whole stream in one window; that read's error is the one raised.
    void LoadFromStream(TStream& stream);
    // The file's document, read as LoadFromStream reads: at most twice.
    void LoadFromFile(const std::string& fileName);
    void SaveToStream(TStream& stream, bool isXSL);
    void SaveToFile(const std::string& fileName);

    bool CrLfInAsString() const noexcept { return FRootItem.CrLfInAsString(); }
    void SetCrLfInAsString(bool value) noexcept { FRootItem.SetCrLfInAsString(value); }

    std::string StyleSheet;
    TNotifyEvent OnSaved;
    TNotifyEvent OnLoaded;
    TXMLItemChanged XMLItemChanged;
    TXMLLoadSaveEvent BeforeLoad;
    TXMLLoadSaveEvent BeforeSave;
    TNotifyEvent OnCleared;
    TXMLLoadSaveEvent BeforeClear;

private:
    TXMLItem FRootItem;
    bool FNotifySaved = true;
};

}  // namespace zel
