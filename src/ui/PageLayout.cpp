#include "ui/PageLayout.h"

// What the views rely on when they walk the table, proved when it is compiled.
namespace zel {
namespace {

constexpr bool NamesAreUnique() {
    for (int i = 0; i < kPageControlCount; ++i)
        if (PageControl(kPageControls[i].Name) != i) return false;
    return true;
}

// The window is the first row and the only one without a parent, so a view creating the rows in
// order always has the parent at hand.
constexpr bool ParentsComeFirst() {
    if (kPageControls[0].Kind != TControlKind::Window || kPageControls[0].Parent) return false;
    for (int i = 1; i < kPageControlCount; ++i)
        if (!kPageControls[i].Parent || PageControl(kPageControls[i].Parent) >= i) return false;
    return true;
}

// Tab ranks run 0, 1, 2, ... without gaps or doubles.
constexpr bool TabRanksAreDense() {
    int stops = 0;
    for (const TPageControl& c : kPageControls) stops += c.Tab >= 0;
    for (int rank = 0; rank < stops; ++rank) {
        int found = 0;
        for (const TPageControl& c : kPageControls) found += c.Tab == rank;
        if (found != 1) return false;
    }
    return true;
}

// Each up-down follows its buddy edit and sits against its right side, as one control of the two.
constexpr bool UpDownsFollowTheirBuddy() {
    for (int i = 0; i < kPageControlCount; ++i) {
        const TPageControl& c = kPageControls[i];
        const bool buddy = (c.Flags & kBuddy) != 0;
        if (buddy != (i + 1 < kPageControlCount && kPageControls[i + 1].Kind == TControlKind::UpDown)) return false;
        if (!buddy) continue;
        const TPageControl& u = kPageControls[i + 1];
        if (c.Kind != TControlKind::Edit || c.Tab >= 0 || u.Tab < 0 || std::string_view(c.Parent) != u.Parent ||
            c.Left + c.Width != u.Left || c.Top != u.Top || c.Height != u.Height)
            return false;
    }
    return true;
}

// Exactly the labels are sized to their text.
constexpr bool OnlyLabelsSizeToText() {
    for (const TPageControl& c : kPageControls)
        if ((c.Kind == TControlKind::Label) != (c.Width == 0 && c.Height == 0)) return false;
    return true;
}

// Clicks, hints and button pictures belong to buttons; the other pictures to picture rows.
constexpr bool ButtonsAloneClick() {
    for (const TPageControl& c : kPageControls) {
        const bool button = c.Kind == TControlKind::Button;
        if (!button && (c.Handler != THandler::NoHandler || c.Hint)) return false;
        if ((c.Art != TArt::NoArt) != (button || c.Kind == TControlKind::Picture)) return false;
    }
    return true;
}

static_assert(NamesAreUnique());
static_assert(ButtonsAloneClick());
static_assert(ParentsComeFirst());
static_assert(TabRanksAreDense());
static_assert(UpDownsFollowTheirBuddy());
static_assert(OnlyLabelsSizeToText());

}  // namespace
}  // namespace zel
