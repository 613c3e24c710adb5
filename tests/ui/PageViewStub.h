#pragma once
// A page view of plain values that records what the logic asks of it, for driving TPageLogic
// without a window. Destroy runs `onDestroy`, which may free the view at once as a Win32 window does.
#include <functional>
#include <string>
#include <vector>

#include "ui/PageLayout.h"
#include "ui/PageLogic.h"

namespace zel::test {

class TPageViewStub final : public TPageView {
public:
    TPageLogic logic{*this};
    std::vector<std::string> texts;  // per row of kPageControls, as are `enabled`
    std::vector<bool> enabled;
    int position = 0, hides = 0;
    std::function<void()> onDestroy;

    TPageViewStub() {
        for (const TPageControl& c : kPageControls) {
            texts.emplace_back(c.Text);
            enabled.push_back(!(c.Flags & kDisabled));
        }
    }
    std::string Text(int control) const override { return texts.at(static_cast<size_t>(control)); }
    void SetText(int control, std::string_view text) override { texts.at(static_cast<size_t>(control)) = text; }
    int Position(int) const override { return position; }
    void SetPosition(int, int value) override { position = value; }
    void SetEnabled(int control, bool on) override { enabled.at(static_cast<size_t>(control)) = on; }
    void SetPictureKey(int, uint32_t) override {}
    void HideWindow() noexcept override { ++hides; logic.Hidden(); }  // a view's hide reports back
    void Destroy() noexcept override { if (onDestroy) onDestroy(); }
    std::string& Text(const char* name) { return texts.at(static_cast<size_t>(PageControl(name))); }
};

}  // namespace zel::test
