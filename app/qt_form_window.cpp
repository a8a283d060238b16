#include "qt_form_window.h"

#include "toolkit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <stdexcept>

namespace tw::app {
namespace {

int toPixels(double twips)
{
    const double pixels = std::nearbyint(twips / kTwipsPerPixel);
    if (!(pixels >= -1e6 && pixels <= 1e6))
        throw std::range_error("window geometry out of range");
    return static_cast<int>(pixels);
}

} // namespace

QtFormWindow::QtFormWindow(QWidget& window)
    : m_window(window)
{
}

int QtFormWindow::windowState() const
{
    const Qt::WindowStates states = m_window.windowState();
    if (states.testFlag(Qt::WindowMinimized))
        return Minimised;
    if (states.testFlag(Qt::WindowMaximized) || states.testFlag(Qt::WindowFullScreen))
        return Maximised;
    return Normal;
}

void QtFormWindow::setWindowState(int state)
{
    const Qt::WindowStates kept = m_window.windowState() & Qt::WindowActive;
    switch (state) {
    case Normal:
        m_window.setWindowState(kept);
        return;
    case Minimised:
        m_window.setWindowState(kept | Qt::WindowMinimized);
        return;
    case Maximised:
        m_window.setWindowState(kept | Qt::WindowMaximized);
        return;
    default:
        throw std::invalid_argument("no such window state");
    }
}

QRect QtFormWindow::screenGeometry() const
{
    const QScreen* screen = m_window.screen();
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        throw std::runtime_error("no screen");
    return screen->geometry();
}

double QtFormWindow::left() const
{
    return double(m_window.frameGeometry().x() - screenGeometry().x()) * kTwipsPerPixel;
}

double QtFormWindow::top() const
{
    return double(m_window.frameGeometry().y() - screenGeometry().y()) * kTwipsPerPixel;
}

double QtFormWindow::width() const
{
    return double(m_window.frameGeometry().width()) * kTwipsPerPixel;
}

double QtFormWindow::height() const
{
    return double(m_window.frameGeometry().height()) * kTwipsPerPixel;
}

void QtFormWindow::move(double left, double top, double width, double height)
{
    const QRect screen = screenGeometry();
    const int x = toPixels(left);
    const int y = toPixels(top);
    const int outerWidth = toPixels(width);
    const int outerHeight = toPixels(height);
    const QRect frame = m_window.frameGeometry();
    const QRect client = m_window.geometry();
    const int frameWidth = frame.width() - client.width();
    const int frameHeight = frame.height() - client.height();
    m_window.move(screen.x() + x, screen.y() + y);
    m_window.resize(std::max(outerWidth - frameWidth, 1), std::max(outerHeight - frameHeight, 1));
}

double QtFormWindow::screenWidth() const
{
    return double(screenGeometry().width()) * kTwipsPerPixel;
}

double QtFormWindow::screenHeight() const
{
    return double(screenGeometry().height()) * kTwipsPerPixel;
}

double QtFormWindow::twipsPerPixelX() const
{
    return kTwipsPerPixel;
}

double QtFormWindow::twipsPerPixelY() const
{
    return kTwipsPerPixel;
}

} // namespace tw::app
