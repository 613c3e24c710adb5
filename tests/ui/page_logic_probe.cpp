// Shows the page logic's load into a view of plain values; its test checks that it links without Qt.
#include <cstdio>

#include "PageViewStub.h"

int main() {
    zel::test::TPageViewStub view;
    view.logic.FormShow();  // no instance: the empty configuration
    std::printf("%s\n", view.Text("lblSensor0").c_str());
    return view.Text("lblSensor0") == "Unknown" && !view.enabled[static_cast<size_t>(zel::PageControl("btnSelectVar0"))] ? 0 : 1;
}
