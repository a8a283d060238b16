#include "address_field.h"

#include <QFocusEvent>
#include <QMouseEvent>

namespace tw::directions {

AddressField::AddressField(QWidget* parent)
    : QLineEdit(parent)
{
}

void AddressField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    // The focus coming back from a context menu or from another application is
    // no new visit to the field: the user's own selection and cursor stay.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return;
    // Selection start 0, length the whole text; an empty field selects nothing.
    selectAll();
    m_focusedByMouse = reason == Qt::MouseFocusReason;
}

void AddressField::focusOutEvent(QFocusEvent* event)
{
    m_focusedByMouse = false;
    m_swallowingClick = false;
    QLineEdit::focusOutEvent(event);
}

void AddressField::mousePressEvent(QMouseEvent* event)
{
    if (m_focusedByMouse && event->button() == Qt::LeftButton) {
        m_focusedByMouse = false;
        m_swallowingClick = true;
        event->accept();
        return;
    }
    m_focusedByMouse = false;
    QLineEdit::mousePressEvent(event);
}

void AddressField::mouseMoveEvent(QMouseEvent* event)
{
    if (m_swallowingClick) {
        event->accept();
        return;
    }
    QLineEdit::mouseMoveEvent(event);
}

void AddressField::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_swallowingClick && event->button() == Qt::LeftButton) {
        m_swallowingClick = false;
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void AddressField::mouseDoubleClickEvent(QMouseEvent* event)
{
    m_swallowingClick = false;
    QLineEdit::mouseDoubleClickEvent(event);
}

} // namespace tw::directions
