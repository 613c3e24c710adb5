#pragma once
// How zelhost deals with having, or not having, a screen: it picks the offscreen platform when
// there is no display it can open, and it reports every message box a module shows (closing it
// itself when nobody could see it), so that a run without a user never waits for a click.
#include <QObject>

#include "Events.h"

namespace zelhost {

// Sets QT_QPA_PLATFORM=offscreen unless the user chose a platform or a display can be opened.
void ChooseQtPlatform();
// Without XDG_RUNTIME_DIR, points it at a private folder of this user (/tmp/zelhost-runtime-UID,
// mode 0700), so the toolkit neither complains on every run nor uses a shared one.
void EnsureRuntimeDir();

// Watches the application for message boxes: each one shown becomes a "messagebox" event; on the
// offscreen platform the box is then closed as if its button had been pressed.
class TMessageBoxWatch : public QObject {
public:
    explicit TMessageBoxWatch(TEventPrinter& events);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TEventPrinter& FEvents;
    bool FCloseBoxes;
};

}  // namespace zelhost
