#pragma once
// frmAbout: the About window. It shows the banner, a credit line, the program's
// version ("1.0.2") and the link label "Tarnwickley Website", whose click hands
// the product web site's address to the URL opener and does nothing else.
//
// Contract:
// - Fixed size (client 279 x 213 pixels), white, a title bar with only a close
//   button, caption "About Tarnwickley".
// - The version label is filled when the window is first shown (its "load");
//   before that it is empty. Each opening constructs a new window, so each
//   opening loads afresh.
// - Each completed click on the link calls the opener exactly once; its result
//   is not examined and the window does not change. An empty opener is ignored.
// - The opener (the main window) decides ownership, modality and lifetime; this
//   class sets none of them.

#include "app/toolkit.h"

#include <QString>
#include <QWidget>

class QLabel;

namespace tw::about {

// The product web site the link opens.
inline constexpr char kProductWebSite[] = "https://tarnwickley.example.org/";

// The version as the About window shows it: the three numbers in plain decimal
// (no leading zeros), joined by ".". For major 1, minor 0, revision 2: "1.0.2".
QString versionText(int major, int minor, int revision);

class frmAbout : public QWidget {
    Q_OBJECT

public:
    explicit frmAbout(tw::app::UrlOpener opener = tw::app::defaultUrlOpener(), QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // The window's load: fills lblVersion.
    void formLoad();
    // Click of lblWebLink1: opens the product web site.
    void lblWebLink1Click();

    tw::app::UrlOpener m_opener;
    bool m_loaded = false;
    // A left press that began on the link; the click completes on a release
    // over the link, as a click on any control does.
    bool m_linkPressed = false;

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblWebLink1 = nullptr;
    QLabel* lblVersion = nullptr;
};

} // namespace tw::about
