#include "SettingsStore.h"

#include <optional>

#include "platform/Streams.h"
#include "platform/TextUtils.h"

namespace zelhost {

using zel::TXMLItem;

namespace {

constexpr std::string_view RootName = "SettingsStore";
constexpr std::string_view InstanceName = "Instance";
constexpr std::string_view IdAttr = "ID";
constexpr std::string_view ValueAttr = "value";
constexpr std::string_view HexAttr = "hex";
// Windows editors start a UTF-8 file with it; it is no part of the document.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view WithoutBom(std::string_view document) {
    return document.starts_with(kUtf8Bom) ? document.substr(kUtf8Bom.size()) : document;
}

[[noreturn]] void Corrupt(const std::string& why) { throw EStoreCorrupt(why); }

std::string HexEncode(std::string_view s) {
    static const char digits[] = "0123456789ABCDEF";
    std::string r;
    r.reserve(s.size() * 2);
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        r += digits[u >> 4];
        r += digits[u & 15];
    }
    return r;
}

int HexValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool HexDecode(std::string_view s, std::string& out) {
    if (s.size() % 2 != 0) return false;
    std::string r;
    r.reserve(s.size() / 2);
    for (size_t i = 0; i < s.size(); i += 2) {
        int hi = HexValue(s[i]), lo = HexValue(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        r += static_cast<char>(hi * 16 + lo);
    }
    out = std::move(r);
    return true;
}

// The loader gives an attribute written as value="" back as the two quote characters (it strips
// quotes only from longer values); a stored value of two quotes goes to `hex`, so this is exact.
bool ElementValue(const TXMLItem& item, std::string& out) {
    const zel::TStringList& params = item.Params();
    if (params.IndexOfName(ValueAttr) >= 0) {
        std::string v = params.Value(ValueAttr);
        out = v == "\"\"" ? std::string() : std::move(v);
        return true;
    }
    if (params.IndexOfName(HexAttr) >= 0) return HexDecode(params.Value(HexAttr), out);
    return false;
}

// True when `value` comes back unchanged from value="..." through our writer and loader.
bool SurvivesAsAttribute(std::string_view value) {
    if (value.find('\0') != std::string_view::npos) return false;
    try {
        // Inside an element, as in the store: a top-level empty tag would load one level down.
        TXMLItem outer;
        outer.SetName("r");
        TXMLItem* item = outer.New();
        item->SetName("v");
        zel::TStringList params;
        params.Add(std::string(ValueAttr) + "=" + std::string(value));
        item->SetParams(params);
        std::string text = outer.AsString(0);
        zel::TBytesViewStream stream(text);
        zel::TECXMLParser parser;
        parser.LoadFromStream(stream);
        const TXMLItem& back = parser.RootItem();
        std::string got;
        return back.SubItemCount() == 1 && ElementValue(*back.SubItems(0), got) && got == value;
    } catch (...) {
        return false;
    }
}

// The key element's attributes with `value` (or `hex`) set to `value`; other attributes stay.
zel::TStringList ParamsWithValue(const zel::TStringList& old, std::string_view value) {
    zel::TStringList params;
    for (int i = 0; i < old.Count(); ++i) {
        std::string name = old.Name(i);
        if (!zel::SameText(name, ValueAttr) && !zel::SameText(name, HexAttr)) params.Add(old.Strings(i));
    }
    if (value.empty() || SurvivesAsAttribute(value))
        params.Add(std::string(ValueAttr) + "=" + std::string(value));
    else
        params.Add(std::string(HexAttr) + "=" + HexEncode(value));
    return params;
}

TXMLItem* FindChild(const TXMLItem* item, std::string_view name) {
    int i = item->IndexOfName(name);
    return i < 0 ? nullptr : item->SubItems(i);
}

TXMLItem* ChildForWrite(TXMLItem* item, std::string_view name) {
    if (TXMLItem* child = FindChild(item, name)) return child;
    TXMLItem* child = item->New();
    child->SetName(std::string(name));
    return child;
}

bool InstanceID(const TXMLItem& item, uint16_t& id) {
    if (!zel::SameText(item.Name(), InstanceName) || item.Params().IndexOfName(IdAttr) < 0) return false;
    std::string text = item.Params().Value(IdAttr);
    int32_t v = 0;
    // Only the canonical form, so that two elements cannot name one instance.
    if (!zel::TryStrToInt(text, v) || v < 0 || v > 65535 || std::to_string(v) != text) return false;
    id = static_cast<uint16_t>(v);
    return true;
}

void CollectValues(const TXMLItem& item, const std::string& prefix, std::vector<TSettingsStore::TValue>& out) {
    for (int i = 0; i < item.SubItemCount(); ++i) {
        const TXMLItem& child = *item.SubItems(i);
        std::string key = prefix.empty() ? child.Name() : prefix + "/" + child.Name();
        std::string value;
        if (ElementValue(child, value)) out.push_back({key, std::move(value)});
        CollectValues(child, key, out);
    }
}

// Our loader does not check that tags pair up (it closes elements by kind alone), so a truncated
// or mismatched document would load as a different tree. This pass pairs them by name.
template <class Tokenizer>
void CheckTags(std::string_view document) {
    zel::TBytesViewStream stream(document);
    Tokenizer tokenizer(stream);
    std::vector<std::string> open;
    int roots = 0;
    std::string scratch;
    for (; tokenizer.Token() != zel::toEOF; tokenizer.NextToken()) {
        int line = tokenizer.SourceLine();
        auto where = [line] { return " on line " + std::to_string(line); };
        switch (tokenizer.Token()) {
            case zel::toText: Corrupt("unexpected text" + where());
            case zel::toStartTag:
            case zel::toEmptyTag:
                if (open.empty() && ++roots > 1) Corrupt("a second top-level element" + where());
                if (tokenizer.Token() == zel::toStartTag)
                    open.push_back(zel::ExtractTagName(tokenizer.TokenText(scratch)));
                break;
            case zel::toEndTag: {
                std::string_view token = tokenizer.TokenText(scratch);
                std::string name = zel::Trim(token.substr(2, token.size() - 3));
                if (open.empty()) Corrupt("</" + name + "> closes nothing" + where());
                if (open.back() != name) Corrupt("</" + name + "> closes <" + open.back() + ">" + where());
                open.pop_back();
                break;
            }
            default: break;
        }
    }
    if (!open.empty()) Corrupt("<" + open.back() + "> is never closed (truncated file?)");
    if (roots == 0) Corrupt("no element in the file");
}

void CheckWellFormed(std::string_view document) {
    if (document.find('\0') != std::string_view::npos) Corrupt("the file contains a zero byte");
    try {
        // The same two windows as the loader: the line-by-line one, then the whole document.
        try {
            CheckTags<zel::TXMLTokenizer>(document);
        } catch (const zel::EParserError&) {
            CheckTags<zel::TXMLLargeTokenizer>(document);
        }
    } catch (const zel::EParserError& e) {
        Corrupt(e.Message());
    }
}

void CheckItems(const TXMLItem& item, const std::string& where) {
    for (int i = 0; i < item.SubItemCount(); ++i) {
        const TXMLItem& child = *item.SubItems(i);
        std::string path = where + "/" + child.Name();
        if (!ValidName(child.Name())) Corrupt("<" + child.Name() + "> is not a valid name in " + where);
        if (item.IndexOfName(child.Name()) != i) Corrupt(path + " appears twice");
        if (zel::HasNonBlank(child.Text())) Corrupt(path + " holds text");
        const zel::TStringList& params = child.Params();
        if (params.IndexOfName(ValueAttr) >= 0 && params.IndexOfName(HexAttr) >= 0)
            Corrupt(path + " has both value and hex");
        std::string ignored;
        if (params.IndexOfName(HexAttr) >= 0 && !HexDecode(params.Value(HexAttr), ignored))
            Corrupt(path + " has a hex value that is not hexadecimal");
        CheckItems(child, path);
    }
}

void CheckDocument(TXMLItem& root) {
    if (root.Name() != RootName) Corrupt("the top element is <" + root.Name() + ">, not <" + std::string(RootName) + ">");
    if (zel::HasNonBlank(root.Text())) Corrupt("<" + root.Name() + "> holds text");
    std::vector<bool> seen(65536);
    for (int i = 0; i < root.SubItemCount(); ++i) {
        const TXMLItem& item = *root.SubItems(i);
        uint16_t id = 0;
        if (!InstanceID(item, id))
            Corrupt("<" + item.Name() + "> below <" + root.Name() + "> is not an <Instance ID=\"0..65535\">");
        if (seen[id]) Corrupt("instance " + std::to_string(id) + " appears twice");
        seen[id] = true;
        if (zel::HasNonBlank(item.Text())) Corrupt("instance " + std::to_string(id) + " holds text");
        CheckItems(item, "instance " + std::to_string(id));
    }
}

}  // namespace

bool ValidName(std::string_view name) noexcept {
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (name.empty() || name.size() > 255 || !letter(name.front())) return false;
    for (char c : name)
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
    return true;
}

// ---- TSettingsStore --------------------------------------------------------------------------

TSettingsStore::TSettingsStore(std::string fileName) : FFileName(std::move(fileName)) {
    FDocument.RootItem().SetName(std::string(RootName));
}

void TSettingsStore::Load() {
    std::optional<std::string> content = ReadStoreFile(FFileName);
    // No file, or an empty one (made with touch, say, or saved empty by an editor): an empty store.
    if (!content || WithoutBom(*content).empty()) {
        FDocument.RootItem().Clear();
        FDocument.RootItem().SetName(std::string(RootName));
        FDirty = false;
        return;
    }
    try {
        LoadFromString(*content);
    } catch (const EStoreCorrupt& e) {
        throw EStoreCorrupt("the settings store " + FFileName + " is corrupt (" + e.Message() +
                            "); it is left as it is");
    }
}

void TSettingsStore::LoadFromString(std::string_view document) {
    FDirty = false;
    document = WithoutBom(document);
    TXMLItem& root = FDocument.RootItem();
    try {
        CheckWellFormed(document);
        zel::TBytesViewStream stream(document);
        FDocument.LoadFromStream(stream);
        // A top element written as an empty tag is loaded as the child of an unnamed root.
        if (root.Name().empty() && root.SubItemCount() == 1 && root.SubItems(0)->SubItemCount() == 0 &&
            !zel::HasNonBlank(root.Text())) {
            std::string name = root.SubItems(0)->Name();
            zel::TStringList params;
            params.Assign(root.SubItems(0)->Params());
            root.Delete(0);
            root.SetName(name);
            root.SetParams(params);
        }
        CheckDocument(root);
    } catch (const EStoreCorrupt&) {
        root.Clear();
        root.SetName(std::string(RootName));
        throw;
    } catch (const std::exception& e) {
        root.Clear();
        root.SetName(std::string(RootName));
        Corrupt(e.what());
    }
}

TXMLItem* TSettingsStore::FindInstance(uint16_t instance) const {
    TXMLItem& root = FDocument.RootItem();
    for (int i = 0; i < root.SubItemCount(); ++i) {
        uint16_t id = 0;
        if (InstanceID(*root.SubItems(i), id) && id == instance) return root.SubItems(i);
    }
    return nullptr;
}

TXMLItem* TSettingsStore::InstanceForWrite(uint16_t instance) {
    if (TXMLItem* item = FindInstance(instance)) return item;
    TXMLItem& root = FDocument.RootItem();
    TXMLItem* item = root.New();
    item->SetName(std::string(InstanceName));
    zel::TStringList params;
    params.Add(std::string(IdAttr) + "=" + std::to_string(instance));
    item->SetParams(params);
    // Instances stay in ascending order, so the file reads the same however it grew.
    for (int i = 0; i < root.SubItemCount() - 1; ++i) {
        uint16_t id = 0;
        if (InstanceID(*root.SubItems(i), id) && id > instance) {
            root.Move(item, i);
            break;
        }
    }
    return item;
}

bool TSettingsStore::Read(uint16_t instance, std::span<const std::string_view> path, std::string_view key,
                          std::string& value) const {
    if (path.size() > MaxSections || !ValidName(key)) return false;
    for (std::string_view section : path)
        if (!ValidName(section)) return false;
    const TXMLItem* item = FindInstance(instance);
    for (std::string_view section : path) {
        if (!item) return false;
        item = FindChild(item, section);
    }
    if (!item || !(item = FindChild(item, key))) return false;
    std::string v;
    if (!ElementValue(*item, v)) return false;
    value = std::move(v);
    return true;
}

bool TSettingsStore::Write(uint16_t instance, std::span<const std::string_view> path, std::string_view key,
                           std::string_view value) {
    if (path.size() > MaxSections || !ValidName(key)) return false;
    for (std::string_view section : path)
        if (!ValidName(section)) return false;
    TXMLItem* item = InstanceForWrite(instance);
    for (std::string_view section : path) item = ChildForWrite(item, section);
    item = ChildForWrite(item, key);
    zel::TStringList params = ParamsWithValue(item->Params(), value);
    // The same value again leaves the document (and so the file) as it is.
    if (params.Lines() == item->Params().Lines()) return true;
    item->SetParams(params);
    FDirty = true;
    if (OnChanged) OnChanged();
    return true;
}

std::vector<TSettingsStore::TValue> TSettingsStore::Values(uint16_t instance) const {
    std::vector<TValue> values;
    if (const TXMLItem* item = FindInstance(instance)) CollectValues(*item, std::string(), values);
    return values;
}

std::vector<uint16_t> TSettingsStore::Instances() const {
    std::vector<uint16_t> ids;
    TXMLItem& root = FDocument.RootItem();
    for (int i = 0; i < root.SubItemCount(); ++i) {
        uint16_t id = 0;
        if (InstanceID(*root.SubItems(i), id)) ids.push_back(id);
    }
    return ids;
}

std::string TSettingsStore::Document() const {
    zel::TMemoryStream stream;
    FDocument.SaveToStream(stream, false);
    return stream.DataString();
}

void TSettingsStore::Save() {
    std::string document = Document();
    // Never put a document on disk that would not load back as this store.
    TSettingsStore check(FFileName);
    try {
        check.LoadFromString(document);
    } catch (const EStoreCorrupt& e) {
        throw EStoreError("not writing " + FFileName + ": the document would not read back: " + e.Message());
    }
    bool same = Instances() == check.Instances();
    for (uint16_t id : Instances()) {
        auto mine = Values(id);
        auto back = check.Values(id);
        same = same && mine.size() == back.size();
        for (size_t i = 0; same && i < mine.size(); ++i)
            same = mine[i].Key == back[i].Key && mine[i].Value == back[i].Value;
    }
    if (!same) throw EStoreError("not writing " + FFileName + ": the document would not read back the same");
    AtomicWriteFile(FFileName, document);
    FDirty = false;
}

}  // namespace zelhost
