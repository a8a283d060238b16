#pragma once
// What the window-placement members of cInifile need of a top-level window and
// its screen. Positions and sizes are in twips from the screen's top left corner.
// The Qt adapter lives with the toolkit bindings (app/); tests use a fake.
// Any member may throw (a window without such a property, a value out of range);
// the placement members catch whatever is thrown.

namespace tw {

class FormWindow {
public:
    enum State { Normal = 0, Minimised = 1, Maximised = 2 };

    virtual ~FormWindow() = default;

    virtual int windowState() const = 0;
    virtual void setWindowState(int state) = 0;
    virtual double left() const = 0;
    virtual double top() const = 0;
    virtual double width() const = 0;
    virtual double height() const = 0;
    virtual void move(double left, double top, double width, double height) = 0;

    // The screen the window is on, in twips, and the twips-per-pixel factors.
    virtual double screenWidth() const = 0;
    virtual double screenHeight() const = 0;
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
};

} // namespace tw
