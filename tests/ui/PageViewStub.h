#pragma once
// A page view of plain values that records what the logic asks of it, for driving TPageLogic
// without any window. Destroy runs `onDestroy`, which may free the view as a Win32 window does.
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "ui/PageLayout.h"
#include "ui/PageLogic.h"

namespace zel::test {

class TPageViewStub final : public TPageView {
public:
    TPageLogic logic{*this};
    std::vector<std::string> texts;  // per row of kPageControls
    std::vector<bool> enabled;
    std::vector<uint32_t> keys;  // 0: no key colour
    int position = 0;
    int hides = 0;
    std::function<void()> onDestroy;

    TPageViewStub() {
        for (const TPageControl& c : kPageControls) {
            texts.emplace_back(c.Text);
            enabled.push_back((c.Flags & kDisabled) == 0);
            keys.push_back(0);
        }
    }
    std::string Text(int control) const override { return texts.at(static_cast<size_t>(control)); }
    void SetText(int control, std::string_view text) override { texts.at(static_cast<size_t>(control)) = text; }
    int Position(int) const override { return position; }
    void SetPosition(int, int value) override { position = value; }
    void SetEnabled(int control, bool on) override { enabled.at(static_cast<size_t>(control)) = on; }
    void SetPictureKey(int button, uint32_t rgb) override { keys.at(static_cast<size_t>(button)) = rgb; }
    void HideWindow() override {
        ++hides;
        logic.Hidden();  // as a view's hide does
    }
    void Destroy() override {
        if (onDestroy) onDestroy();
    }
    std::string& Text(const char* name) { return texts.at(static_cast<size_t>(PageControl(name))); }
};

}  // namespace zel::test
