#pragma once
// AddressField: one of the main window's eight address text boxes. Whenever it
// gains the focus, by keyboard, by code or by a mouse click, it selects its whole
// text, so that typing replaces the old address. The focus returning from the
// field's context menu or from another application is not such a visit: the
// selection and cursor stay as the user left them (so "Paste" from the menu
// inserts at the cursor instead of replacing the whole address).
//
// A plain line edit keeps that selection only for keyboard focus: the mouse
// press that gives the focus goes on to place the text cursor and clears the
// selection. This field therefore lets the press (and a drag that follows it)
// that brought the focus do nothing, so the selection made on focus stays. The
// next click inside the field behaves as usual.

#include <QLineEdit>

namespace tw::directions {

class AddressField : public QLineEdit {
    Q_OBJECT
public:
    explicit AddressField(QWidget* parent = nullptr);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The focus came with a mouse press that has not reached the field yet.
    bool m_focusedByMouse = false;
    // That press was swallowed; its drag and release are swallowed too.
    bool m_swallowingClick = false;
};

} // namespace tw::directions
