#pragma once
// The few toolkit bindings every window of the application shares: the twip
// unit, the application's message box, the program folder and the settings file
// location, opening a web address, and the application-wide mouse pointer.
//
// Windows call these instead of Qt directly so that tests can replace the two
// that reach outside the process (message boxes, the URL opener) and so that the
// rules (title "Tarnwickley", no icon, one OK button) live in one place.

#include <QRect>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;

namespace tw::app {

// The application's title: the caption of every message box.
inline constexpr char kApplicationTitle[] = "Tarnwickley";

// 15 twips make one pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

// Converts a length in twips to pixels (rounded down, as the layouts are whole pixels).
constexpr int px(int twips) { return twips / kTwipsPerPixel; }

// A rectangle given in twips (left, top, width, height) as pixels.
QRect twipsRect(int left, int top, int width, int height);

// Shows `text` in a modal message box: no icon, one OK button, caption
// "Tarnwickley". Returns when the user has dismissed it. While a message sink is
// installed (tests) the text goes to the sink instead and nothing is shown.
void showMessage(QWidget* parent, const QString& text);

// Replaces the message box by `sink` until called again with an empty function.
using MessageSink = std::function<void(const QString&)>;
void setMessageSink(MessageSink sink);

// The folder that holds the program, without a trailing separator.
QString programFolder();

// The full path of control.ini: in the program's folder when that folder is
// writable (a build tree, a portable install) and the program is not installed
// (no share/tarnwickley beside its folder); otherwise in the per-user
// configuration folder (~/.config/Tarnwickley/Tarnwickley), which is created
// when missing. An override set by
// setSettingsFolder (tests) wins over both.
QString controlIniPath();
void setSettingsFolder(const QString& folder);

// Opens a web address in the user's default browser. Returns false when the
// platform could not hand it over. Tests install their own opener.
using UrlOpener = std::function<bool(const QUrl&)>;
UrlOpener defaultUrlOpener();

// Sets the mouse pointer of the whole application back to the default pointer.
void restoreDefaultPointer();

} // namespace tw::app
