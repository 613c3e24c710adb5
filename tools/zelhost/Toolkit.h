#pragma once
// The window toolkit as a run of the host sees it: the application and its event loop, the
// module's configuration page, the variable selector's dialog, and the message boxes. This is the
// one toolkit seam of zelhost: QtToolkit.cpp is the Qt side of it, and a build without Qt supplies
// its own file behind this header; everything else in zelhost is shared. All of it runs on the
// main thread, except Post.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Events.h"
#include "host/UZELTypes.h"

namespace zelhost {

// Something the toolkit watches for as long as this object lives.
class TWatch {
public:
    virtual ~TWatch() = default;
};

class TToolkit {
public:
    virtual ~TToolkit() = default;

    // Runs the event loop until it is quit; returns the exit code.
    virtual int Run() = 0;
    // Ends Run with 0, closing the windows first as a normal end of the application does.
    virtual void Quit() = 0;
    // Ends Run with 0 once `milliseconds` have passed.
    virtual void QuitAfter(int milliseconds) = 0;
    // Runs `work` on the main thread at the end of the current event loop turn; any thread may ask.
    virtual void Post(std::function<void()> work) = 0;
    // Runs at once whatever is posted or scheduled for deletion, without waiting for more.
    virtual void RunPosted() = 0;
    // Calls `onReadable` from the event loop whenever `descriptor` has data to read, for as long as
    // the watch it returns lives.
    virtual std::unique_ptr<TWatch> WatchReadable(int descriptor, std::function<void()> onReadable) = 0;

    // Whether a module's configuration page is open.
    virtual bool HasPage() = 0;
    // Once the page has been laid out: clicks its button named `click` (none when empty), renders
    // the page into the PNG file `screenshot` and quits; quits with 1, saying why on stderr, when
    // there is no such button or the file cannot be written.
    virtual void ScreenshotPage(const std::string& screenshot, const std::string& click) = 0;
    // Quits with 0 once the page has been closed.
    virtual void QuitWhenPageCloses() = 0;

    // The variable selector's answer: see DefaultVariableChooser.
    virtual zel::HRESULT ChooseVariable(uint8_t kind, const std::vector<std::string>& names, std::string& chosen) = 0;
};

// Brings the toolkit up for a run: on a display when one can be opened, else offscreen; every
// message box a module shows becomes an event of `events`, and where nobody can see it the box is
// closed as if its button had been pressed, so a run without a user never waits for a click.
std::unique_ptr<TToolkit> MakeToolkit(TEventPrinter& events);
using TMakeToolkit = std::unique_ptr<TToolkit> (*)(TEventPrinter& events);

// ZELHOST_SELECT when it is set (empty: refuse), else a dialog listing `names`, when the toolkit
// is up; a failure when the user cancels or names nothing.
zel::HRESULT DefaultVariableChooser(uint8_t kind, const std::vector<std::string>& names, std::string& chosen);

}  // namespace zelhost
