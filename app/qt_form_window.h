#pragma once
// Adapts a top-level QWidget to tw::FormWindow, so that cInifile can save and
// restore its placement.
//
// Geometry is the window's outer rectangle (frame included) in twips, 15 per
// pixel, measured from the top left corner of the screen the window is on; the
// screen's size is that screen's full size. Moving sets the outer rectangle:
// the frame's thickness is taken off the size given to the client area.
// Window states map to Qt's: minimised, maximised (full screen counts as
// maximised), normal. setWindowState throws std::invalid_argument for another
// value, and every member throws std::runtime_error when there is no screen at all;
// cInifile catches both.

#include "settings/form_window.h"

#include <QRect>

class QWidget;

namespace tw::app {

class QtFormWindow final : public FormWindow {
public:
    // `window` must outlive the adapter.
    explicit QtFormWindow(QWidget& window);

    int windowState() const override;
    void setWindowState(int state) override;
    double left() const override;
    double top() const override;
    double width() const override;
    double height() const override;
    void move(double left, double top, double width, double height) override;
    double screenWidth() const override;
    double screenHeight() const override;
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;

private:
    QRect screenGeometry() const;

    QWidget& m_window;
};

} // namespace tw::app
