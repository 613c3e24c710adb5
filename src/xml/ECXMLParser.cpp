#include "xml/ECXMLParser.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/Exceptions.h"
#include "platform/TextUtils.h"
#include "xml/ItemChunks.h"
#include "xml/ScanBytes.h"

namespace zel {

namespace {

[[noreturn]] void IndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

template <char C>
size_t FindByte(std::string_view s) noexcept {
    return xml::FindFirstOf<C>(s);
}

template <char C>
bool HasByte(std::string_view s) noexcept {
    return FindByte<C>(s) != std::string_view::npos;
}

void Pad(std::string& out, int n) {
    if (n > 0) out.append(static_cast<size_t>(n), ' ');
}

}  // namespace

// ---- escapes -------------------------------------------------------------------------------

std::string EscapeText(std::string_view s) {
    std::string r;
    r.reserve(s.size() + s.size() / 8);
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        switch (c) {
            case '&': r += "&amp;"; break;
            case '<': r += "&lt;"; break;
            case '>': r += "&gt;"; break;
            case '"': r += "&quot;"; break;
            case '\r':
                if (i + 1 < s.size() && s[i + 1] == '\n') {
                    r += "&br&";
                    ++i;
                } else {
                    r += "&cr&";
                }
                break;
            case '\n': r += "&lf&"; break;
            default: r += c;
        }
    }
    return r;
}

std::string UnescapeText(std::string_view s) {
    // The replacements run one after the other, each over the result of the one before, so that
    // ambiguous sequences decode exactly as the writer of the escape table intended.
    static const std::pair<std::string_view, std::string_view> steps[] = {
        {"&lf&", "\n"}, {"&cr&", "\r"}, {"&br&", "\r\n"}, {"&lt;", "<"},
        {"&gt;", ">"},  {"&quot;", "\""}, {"&amp;", "&"},
    };
    size_t amp = FindByte<'&'>(s);
    if (amp == std::string_view::npos) return std::string(s);
    // Entities ending in ';' cannot overlap one another, and no replacement can complete a later
    // one, so without the line-break entities a single left-to-right pass gives the same text.
    std::string r;
    r.reserve(s.size());
    r.append(s.substr(0, amp));
    for (size_t i = amp; i < s.size();) {
        std::string_view rest = s.substr(i);
        if (rest.front() != '&') {
            size_t next = FindByte<'&'>(rest);
            size_t n = next == std::string_view::npos ? rest.size() : next;
            r.append(rest.substr(0, n));
            i += n;
        } else if (rest.starts_with("&lt;")) {
            r += '<';
            i += 4;
        } else if (rest.starts_with("&gt;")) {
            r += '>';
            i += 4;
        } else if (rest.starts_with("&amp;")) {
            r += '&';
            i += 5;
        } else if (rest.starts_with("&quot;")) {
            r += '"';
            i += 6;
        } else if (rest.starts_with("&lf&") || rest.starts_with("&cr&") || rest.starts_with("&br&")) {
            r.assign(s);
            for (const auto& [from, to] : steps)
                if (r.find(from) != std::string::npos) r = ReplaceAll(r, from, to);
            return r;
        } else {
            r += '&';
            ++i;
        }
    }
    return r;
}

std::string ExtractTagName(std::string_view tagString) {
    if (tagString.empty()) return {};
    std::string_view rest = tagString.substr(1);
    size_t end = FindByte<' '>(rest);
    if (end == std::string_view::npos) end = FindByte<'/'>(rest);
    if (end == std::string_view::npos) end = rest.empty() ? 0 : rest.size() - 1;
    return std::string(rest.substr(0, end));
}

namespace {

// The common tag: no line break between the attributes and no name twice. Then every pass of the
// general algorithm touches only its own line, so each line can be finished as it is split off,
// without the string list's lookups; and one scan from the first space finds the pieces, their
// first '=' and the closing '>'. Returns false, having added nothing, for any other tag.
bool ExtractDistinctParams(std::string_view tag, size_t space, TStringList& params) {
    constexpr size_t npos = std::string_view::npos;
    // A '>' before the first space leaves nothing between them.
    if (FindByte<'>'>(tag.substr(0, space)) != npos) return true;
    constexpr size_t InlinePieces = 16;
    // Offsets into `tag`; a piece without '=' has an empty name and an empty value. Most tags fit
    // the inline array, longer ones spill into a vector.
    struct Piece {
        size_t begin, nameEnd, valueBegin, end;
    };
    Piece inlinePieces[InlinePieces];
    std::vector<Piece> morePieces;
    Piece* pieces = inlinePieces;
    size_t count = 0;
    size_t start = space + 1;
    size_t eq = npos;
    auto add = [&](size_t end) {
        Piece piece = eq == npos ? Piece{start, start, end, end} : Piece{start, eq, eq + 1, end};
        if (count < InlinePieces) {
            inlinePieces[count++] = piece;
            return;
        }
        if (morePieces.empty()) morePieces.assign(inlinePieces, inlinePieces + InlinePieces);
        morePieces.push_back(piece);
        pieces = morePieces.data();
        ++count;
    };
    bool quoted = false;
    size_t q = start;
    const size_t n = tag.size();
    for (;; ++q) {
        // Inside a quoted value whose piece already has its '=', only a quote, the tag's end or a
        // line break matters; that is where long values are, so they are skipped fastest.
        q += quoted && eq != npos ? xml::FindFirstOf<'"', '>', '\r', '\n'>(tag.data() + q, n - q)
                                  : xml::FindFirstOf<' ', '"', '=', '>', '\r', '\n'>(tag.data() + q, n - q);
        if (q == n) break;
        char c = tag[q];
        if (c == '>') break;
        if (c == '\r' || c == '\n') return false;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ') {
            if (quoted) continue;
            add(q);
            start = q + 1;
            eq = npos;
        } else if (eq == npos) {
            eq = q;
        }
    }
    // Without a '>' nothing lies between the first space and the end of the tag: no attributes.
    if (q == tag.size()) return true;
    // The '/' of an empty tag is no part of the last value; a final separator adds no empty line.
    if (tag[q - 1] == '/') --q;
    if (start < q) add(q);
    if (count <= InlinePieces) {
        for (size_t i = 0; i < count; ++i) {
            size_t len = pieces[i].nameEnd - pieces[i].begin;
            for (size_t j = 0; j < i; ++j)
                if (pieces[j].nameEnd - pieces[j].begin == len &&
                    SameText(tag.substr(pieces[j].begin, len), tag.substr(pieces[i].begin, len)))
                    return false;
        }
    } else {
        // Many attributes: a set of the folded names keeps the check linear.
        std::unordered_set<std::string> seen;
        seen.reserve(count);
        for (size_t i = 0; i < count; ++i)
            if (!seen.insert(UpperCase(tag.substr(pieces[i].begin, pieces[i].nameEnd - pieces[i].begin))).second)
                return false;
    }
    params.Reserve(static_cast<int>(count));
    for (size_t i = 0; i < count; ++i) {
        const Piece& p = pieces[i];
        std::string_view name = tag.substr(p.begin, p.nameEnd - p.begin);
        std::string_view v = tag.substr(p.valueBegin, p.end - p.valueBegin);
        if (v.size() > 2) {
            if (v.front() == '"') v.remove_prefix(1);
            if (v.back() == '"') v.remove_suffix(1);
        }
        std::string line;
        if (HasByte<'&'>(v)) {
            std::string u = UnescapeText(v);
            if (u.empty()) continue;  // an empty value removes its line
            line.reserve(name.size() + 1 + u.size());
            line.append(name).append(1, '=').append(u);
        } else {
            if (v.empty()) continue;
            line.reserve(name.size() + 1 + v.size());
            line.append(name).append(1, '=').append(v);
        }
        params.Add(std::move(line));
    }
    return true;
}

// The general algorithm's passes: for each line, in the order and with the names the lines had before
// any pass, the first line of that name has its value unquoted and unescaped and is rewritten under
// the pass's name (or removed when the value comes out empty). A pass touches only lines of its own
// name, so each name keeps a cursor on its first surviving line: no pass scans the list, and a value
// that a pass leaves as it was stays so for every later pass of its name.
void UnquoteValues(TStringList& params) {
    constexpr size_t none = static_cast<size_t>(-1);
    const std::vector<std::string>& lines = params.Lines();
    const size_t n = lines.size();
    struct Line {
        std::string_view originalName;  // a view into `lines`, which stay until the end
        std::string_view name;
        std::string value;
        size_t next = none;  // the next line of the same name
        bool rewritten = false, removed = false, settled = false;
    };
    std::vector<Line> state(n);
    struct Group {
        size_t first, last;
    };
    std::vector<Group> groups;
    std::vector<size_t> groupOf(n);
    std::unordered_map<std::string, size_t> groupByName;
    groupByName.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        std::string_view line = lines[i];
        size_t eq = FindByte<'='>(line);
        Line& l = state[i];
        l.originalName = eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
        if (eq != std::string_view::npos) l.value = line.substr(eq + 1);
        auto [it, added] = groupByName.emplace(UpperCase(l.originalName), groups.size());
        if (added)
            groups.push_back({i, i});
        else
            state[std::exchange(groups[it->second].last, i)].next = i;
        groupOf[i] = it->second;
    }
    for (size_t i = 0; i < n; ++i) {
        // A name has as many passes as lines and a pass removes at most one, so a line is left.
        size_t& first = groups[groupOf[i]].first;
        Line& l = state[first];
        if (!l.settled) {
            std::string_view v = l.value;
            if (v.size() > 2) {
                if (v.front() == '"') v.remove_prefix(1);
                if (v.back() == '"') v.remove_suffix(1);
            }
            std::string u = UnescapeText(v);
            if (u.empty()) {
                l.removed = true;
                first = l.next;
                continue;
            }
            l.settled = u == l.value;
            l.value = std::move(u);
        }
        l.name = state[i].originalName;
        l.rewritten = true;
    }
    std::vector<std::string> result;
    result.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const Line& l = state[i];
        if (l.removed) continue;
        if (!l.rewritten) {
            result.push_back(lines[i]);
            continue;
        }
        std::string line;
        line.reserve(l.name.size() + 1 + l.value.size());
        line.append(l.name).append(1, '=').append(l.value);
        result.push_back(std::move(line));
    }
    params.Clear();
    for (std::string& line : result) params.Add(std::move(line));
}

}  // namespace

void ExtractParams(std::string_view tagString, TStringList& params) {
    params.Clear();
    size_t space = FindByte<' '>(tagString);
    if (space == std::string_view::npos) return;
    if (ExtractDistinctParams(tagString, space, params)) return;
    size_t q = FindByte<'>'>(tagString);
    if (q == std::string_view::npos) return;
    if (q >= 1 && tagString[q - 1] == '/') --q;
    std::string_view inner;
    if (q > space + 1) inner = tagString.substr(space + 1, q - space - 1);
    std::string a;
    a.reserve(inner.size() + 8);
    bool quoted = false;
    for (char c : inner) {
        if (c == '"') quoted = !quoted;
        if (c == ' ' && !quoted)
            a += "\r\n";
        else
            a += c;
    }
    params.SetText(a);
    UnquoteValues(params);
}

// ---- TXMLItem ------------------------------------------------------------------------------

namespace {

// The address the class's operator new handed out last on this thread, until the item constructed
// there has seen it. Kept in the static TLS block (8 bytes), so a module that is unloaded leaves no
// dynamic TLS behind, which the leak checker trips over at exit.
[[gnu::tls_model("initial-exec")]] thread_local const void* tItemFromNew = nullptr;

}  // namespace

void* TXMLItem::operator new(std::size_t size) {
    void* p = xml::TakeItemMemory(size);
    tItemFromNew = p;
    return p;
}

void TXMLItem::operator delete(void* p) noexcept { xml::ReturnItemMemory(p); }

TXMLItem::TXMLItem() noexcept : FMadeByNew(tItemFromNew == this) {
    if (FMadeByNew) tItemFromNew = nullptr;
}

TXMLItem::~TXMLItem() {
    FNotify = false;
    DestroySubItems();
}

void TXMLItem::DestroySubItems() noexcept {
    // Iterative and linear: no recursion however deep the tree, no erasing from the front.
    std::vector<TXMLItem*> work;
    work.swap(FSubItems);
    std::reverse(work.begin(), work.end());
    while (!work.empty()) {
        TXMLItem* item = work.back();
        work.pop_back();
        work.insert(work.end(), item->FSubItems.rbegin(), item->FSubItems.rend());
        item->FSubItems.clear();
        item->FNotify = false;
        delete item;
    }
}

void TXMLItem::SetName(std::string name) {
    FName = std::move(name);
    Changed();
}

void TXMLItem::SetText(std::string text) {
    FText = std::move(text);
    Changed();
}

void TXMLItem::SetParams(const TStringList& params) {
    FParams.Assign(params);
    Changed();
}

void TXMLItem::SetParent(TXMLItem* parent) {
    if (parent == FParent) return;
    // The new parent's tree frees the item with delete, which only an item made by new survives;
    // that excludes a parser's root item and any item that lives on the stack or inside an object.
    if (parent && !FMadeByNew) throw EInvalidOperation("Only an item made with new can join a tree");
    for (const TXMLItem* p = parent; p; p = p->FParent)
        if (p == this) throw EInvalidOperation("An item cannot become a child of its own subtree");
    if (FParent) {
        auto& siblings = FParent->FSubItems;
        int i = FParent->IndexOf(this);
        if (i >= 0) siblings.erase(siblings.begin() + i);
    }
    FParent = parent;
    if (parent) parent->FSubItems.push_back(this);
    // The item now reports to the parser of the tree it is in, and a free item to none: a parser it
    // left may be gone before the item's next change.
    SetParser(parent ? parent->FParser : nullptr);
}

std::string TXMLItem::FullName() const {
    std::vector<const TXMLItem*> chain;
    for (const TXMLItem* p = this; p; p = p->FParent) chain.push_back(p);
    std::string r;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        r += (*it)->FName;
        r += '/';
    }
    return r;
}

void TXMLItem::Clear() {
    FNotify = false;
    DestroySubItems();
    FParams.Clear();
    FName.clear();
    FText.clear();
    FNotify = true;
}

TXMLItem* TXMLItem::New() {
    std::unique_ptr<TXMLItem> item(new TXMLItem);  // default-initialised: no zero fill before the members construct
    item->FParent = this;
    item->FParser = FParser;
    // Most parents get a few children; starting at four skips the first reallocations.
    if (FSubItems.capacity() == 0) FSubItems.reserve(4);
    FSubItems.push_back(item.get());
    TXMLItem* result = item.release();
    Changed();
    return result;
}

void TXMLItem::Delete(int index) {
    if (index < 0 || index >= SubItemCount()) IndexError(index);
    TXMLItem* item = FSubItems[static_cast<size_t>(index)];
    FSubItems.erase(FSubItems.begin() + index);
    item->FNotify = false;
    delete item;
    Changed();
}

void TXMLItem::Move(TXMLItem* item, int newIndex) {
    int from = IndexOf(item);
    if (from < 0) IndexError(from);
    if (newIndex < 0 || newIndex >= SubItemCount()) IndexError(newIndex);
    FSubItems.erase(FSubItems.begin() + from);
    FSubItems.insert(FSubItems.begin() + newIndex, item);
}

int TXMLItem::IndexOf(const TXMLItem* item) const noexcept {
    for (size_t i = 0; i < FSubItems.size(); ++i)
        if (FSubItems[i] == item) return static_cast<int>(i);
    return -1;
}

int TXMLItem::IndexOfName(std::string_view name, int startIndex) const noexcept {
    // Length and first letter reject most siblings before the full comparison.
    char first = name.empty() ? '\0' : UpperAscii(name.front());
    for (size_t i = static_cast<size_t>(std::max(startIndex, 0)); i < FSubItems.size(); ++i) {
        const std::string& n = FSubItems[i]->FName;
        if (n.size() != name.size() || (!n.empty() && UpperAscii(n.front()) != first)) continue;
        if (SameText(n, name)) return static_cast<int>(i);
    }
    return -1;
}

TXMLItem* TXMLItem::SubItems(int index) const {
    if (index < 0 || index >= SubItemCount()) IndexError(index);
    return FSubItems[static_cast<size_t>(index)];
}

void TXMLItem::SetParser(TECXMLParser* parser) noexcept {
    std::vector<TXMLItem*> work{this};
    while (!work.empty()) {
        TXMLItem* item = work.back();
        work.pop_back();
        item->FParser = parser;
        work.insert(work.end(), item->FSubItems.begin(), item->FSubItems.end());
    }
}

void TXMLItem::Changed() {
    if (FNotify && FParser && FParser->XMLItemChanged) FParser->XMLItemChanged(*FParser, *this);
}

TXMLItem* TXMLItem::ItemByName(std::string_view name) {
    TXMLItem* current = this;
    for (;;) {
        if (name.empty()) return nullptr;
        std::string_view s = name;
        if (s.back() == '/') s.remove_suffix(1);
        if (!s.empty() && s.front() == '/') {
            // Absolute: the first segment names the root and is not compared. An item outside a
            // parser takes the top of its own tree as the root.
            TXMLItem* root = current;
            if (current->FParser)
                root = &current->FParser->RootItem();
            else
                while (root->FParent) root = root->FParent;
            size_t second = s.find('/', 1);
            if (second == std::string_view::npos) return root;
            current = root;
            name = name.substr(second + 1);
            continue;
        }
        size_t slash = s.find('/');
        std::string_view segment = s.substr(0, slash);
        int i = current->IndexOfName(segment, 0);
        TXMLItem* child;
        if (i < 0) {
            child = current->New();
            child->SetName(std::string(segment));
        } else {
            child = current->FSubItems[static_cast<size_t>(i)];
        }
        if (slash == std::string_view::npos) return child;
        current = child;
        name = name.substr(slash + 1);
    }
}

void TXMLItem::ApplyTag(std::string_view tag) {
    SetName(ExtractTagName(tag));
    ExtractParams(tag, FParams);
}

void TXMLItem::LoadFromTokenizer(TXMLTokenizer& tokenizer) {
    FLoadComplete = false;
    Clear();
    SetName(std::string());
    TXMLItem* current = this;
    // Whether a start tag opened the loading item itself: until then nothing is open, even while
    // empty elements are added to it.
    bool topOpened = false;
    int depth = 1;
    // Whether the text of the item at each open level holds a non-blank byte, kept as texts change
    // so that an element with many text runs is not rescanned for every run.
    bool textIsSet[MaxXMLNesting] = {};
    std::string scratch;
    std::string_view token;
    while (tokenizer.Token() != toEOF) {
        // End tags and comments are acted on by their kind alone.
        if (tokenizer.Token() != toEndTag && tokenizer.Token() != toComment) token = tokenizer.TokenText(scratch);
        switch (tokenizer.Token()) {
            case toXMLInstruction:
                if (FParser && UpperCase(token).find("XML-STYLESHEET") != std::string::npos) {
                    size_t href = UpperCase(token).find("HREF=\"");
                    if (href != std::string::npos) {
                        size_t start = href + 6;
                        size_t end = token.find('"', start);
                        // An address without its closing quote is not taken.
                        if (end != std::string::npos) FParser->StyleSheet = std::string(token.substr(start, end - start));
                    }
                }
                break;
            case toText:
                // Content after the top-level element has no item to go to and is ignored.
                if (!current) break;
                if (!textIsSet[depth - 1]) {
                    current->SetText(UnescapeText(token));
                    textIsSet[depth - 1] = HasNonBlank(current->FText);
                } else {
                    // Appended in place: an element with many runs must not cost quadratic time.
                    current->FText.append("\r\n").append(UnescapeText(token));
                    current->Changed();
                }
                break;
            case toStartTag:
                if (!current) break;
                if (!HasNonBlank(current->FName)) {
                    current->ApplyTag(token);
                    topOpened = topOpened || current == this;
                } else {
                    if (depth >= MaxXMLNesting) tokenizer.Error("Elements nested too deeply");
                    current = current->New();
                    textIsSet[depth++] = false;
                    current->ApplyTag(token);
                }
                break;
            case toEndTag:
                if (!current) break;
                // The loading item's own end closes the document, also for an item inside a tree.
                if (current == this) {
                    current = nullptr;
                } else {
                    current = current->FParent;
                    --depth;
                }
                break;
            case toEmptyTag:
                if (!current) break;
                if (depth >= MaxXMLNesting) tokenizer.Error("Elements nested too deeply");
                current->New()->ApplyTag(token);
                break;
            default:
                break;
        }
        tokenizer.NextToken();
    }
    // The loader takes a document cut short as it is; this tells callers that need the whole one.
    FLoadComplete = !current || (current == this && !topOpened);
}

template <class Tokenizer>
void TXMLItem::LoadWith(TStream& stream) {
    TECXMLParser* parser = FParser;
    try {
        bool allow = true;
        if (parser && parser->BeforeLoad) parser->BeforeLoad(*parser, allow);
        if (!allow) return;
        {
            // Loading sends no change notifications; the handler comes back also when an error passes.
            struct HandlerGuard {
                TECXMLParser* parser;
                TECXMLParser::TXMLItemChanged saved;
                ~HandlerGuard() {
                    if (parser) parser->XMLItemChanged = std::move(saved);
                }
            } guard{parser, parser ? std::exchange(parser->XMLItemChanged, nullptr) : nullptr};
            Tokenizer tokenizer(stream);
            LoadFromTokenizer(tokenizer);
        }
        if (parser && parser->OnLoaded) parser->OnLoaded(*parser);
    } catch (...) {
        // Whatever raised (the stream, the tokenizer or an event), the caller got no whole load.
        FLoadComplete = false;
        throw;
    }
}

void TXMLItem::LoadFromStream(TStream& stream) { LoadWith<TXMLTokenizer>(stream); }

void TXMLItem::LoadFromLargeStream(TStream& stream) { LoadWith<TXMLLargeTokenizer>(stream); }

void TXMLItem::LoadFromString(std::string_view s) {
    TBytesViewStream stream(s);
    LoadFromStream(stream);
}

std::string TXMLItem::TagText() const {
    std::string r = FName;
    const int count = FParams.Count();
    // Each line is written with the value looked up by its name, which is the value of the first
    // line of that name. Many attributes get an index of first lines instead of a scan per line.
    constexpr int kIndexedAbove = 16;
    const bool indexed = count > kIndexedAbove;
    std::unordered_map<std::string, int> firstLine;
    if (indexed)
        for (int i = 0; i < count; ++i) firstLine.emplace(UpperCase(FParams.Name(i)), i);
    for (int i = 0; i < count; ++i) {
        std::string name = FParams.Name(i);
        r += ' ';
        r += name;
        r += "=\"";
        r += EscapeText(indexed ? FParams.ValueFromIndex(firstLine[UpperCase(name)]) : FParams.Value(name));
        r += '"';
    }
    return r;
}

std::string TXMLItem::AsString(int indent) {
    // Reserve about what will be written, so a large document is not copied at every growth step.
    size_t estimate = 0;
    std::vector<const TXMLItem*> work{this};
    while (!work.empty()) {
        const TXMLItem* item = work.back();
        work.pop_back();
        estimate += 2 * item->FName.size() + item->FText.size() + item->FText.size() / 8 + 16;
        for (const std::string& line : item->FParams.Lines()) estimate += line.size() + 4;
        work.insert(work.end(), item->FSubItems.begin(), item->FSubItems.end());
    }
    std::string out;
    out.reserve(estimate + estimate / 4 + static_cast<size_t>(std::max(indent, 0)) * 4);
    AppendAsString(out, indent);
    return out;
}

void TXMLItem::AppendAsString(std::string& out, int indent) {
    // Written with an explicit stack so that a deep tree built in code cannot exhaust the call stack.
    struct Frame {
        TXMLItem* item;
        int indent;
        size_t next;
    };
    std::vector<Frame> stack;
    auto open = [&](TXMLItem* item, int ind) {
        const char* nl = item->FCrLfInAsString ? "\r\n" : "";
        bool hasText = HasNonBlank(item->FText);
        Pad(out, ind);
        out += '<';
        out += item->TagText();
        if (!hasText && item->FSubItems.empty()) {
            out += "/>";
            out += nl;
            return;
        }
        out += '>';
        out += nl;
        if (hasText) {
            Pad(out, ind + (item->FCrLfInAsString ? 2 : 0));
            out += EscapeText(item->FText);
            out += nl;
        }
        stack.push_back({item, ind, 0});
    };
    open(this, indent);
    while (!stack.empty()) {
        Frame& top = stack.back();
        TXMLItem* item = top.item;
        if (top.next < item->FSubItems.size()) {
            TXMLItem* child = item->FSubItems[top.next++];
            child->FCrLfInAsString = item->FCrLfInAsString;
            open(child, top.indent + (item->FCrLfInAsString ? 2 : 0));  // may reallocate `stack`
        } else {
            Pad(out, top.indent);
            out += "</";
            out += item->FName;
            out += '>';
            if (item->FCrLfInAsString) out += "\r\n";
            stack.pop_back();
        }
    }
}

// ---- TECXMLParser --------------------------------------------------------------------------

TECXMLParser::TECXMLParser() { FRootItem.SetParser(this); }

void TECXMLParser::Clear() {
    bool allow = true;
    if (BeforeClear) BeforeClear(*this, allow);
    if (!allow) return;
    FRootItem.Clear();
    if (OnCleared) OnCleared(*this);
}

void TECXMLParser::LoadFromStream(TStream& stream) {
    int64_t position = stream.Position();
    try {
        FRootItem.LoadFromStream(stream);
    } catch (const EParserError&) {
        // A line longer than the window: read again with the whole stream in one window.
        stream.SetPosition(position);
        FRootItem.LoadFromLargeStream(stream);
    }
}

void TECXMLParser::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    LoadFromStream(file);
}

void TECXMLParser::SaveToStream(TStream& stream, bool isXSL) {
    bool allow = true;
    if (BeforeSave) BeforeSave(*this, allow);
    if (!allow) return;
    std::string header = "<?xml version=\"1.0\" encoding=\"ISO8859-1\" ?>\r\n";
    if (!isXSL && HasNonBlank(StyleSheet)) {
        header += "<?xml-stylesheet type=\"text/xsl\" href=\"";
        header += StyleSheet;
        header += "\"?>\r\n";
    }
    stream.WriteString(header);
    stream.WriteString(FRootItem.AsString(2));
    if (FNotifySaved && OnSaved) OnSaved(*this);
}

void TECXMLParser::SaveToFile(const std::string& fileName) {
    size_t slash = fileName.find_last_of('/');
    size_t dot = fileName.find_last_of('.');
    bool isXSL = dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
                 UpperCase(std::string_view(fileName).substr(dot)) == ".XSL";
    {
        TFileStream file(fileName, TFileStream::fmCreate);
        FNotifySaved = false;
        try {
            SaveToStream(file, isXSL);
        } catch (...) {
            FNotifySaved = true;
            throw;
        }
        FNotifySaved = true;
    }
    if (OnSaved) OnSaved(*this);
}

}  // namespace zel
