#pragma once

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLatin1StringView>

namespace pexil::ui {

namespace detail {
template <class Widget, QAccessible::Role role>
QAccessibleInterface* widgetWithRole(const QString& className, QObject* object) {
    if (className != QLatin1StringView(Widget::staticMetaObject.className()) ||
        !object->isWidgetType())
        return nullptr;
    // Qt's accessibility cache owns the interface and deletes it with the widget.
    return new QAccessibleWidget(static_cast<QWidget*>(object), role);
}
}  // namespace detail

// Qt presents a widget it has no interface for as a bare client area, which screen readers
// skip over. Registers, once per class, that widgets of class `Widget` (a Q_OBJECT class;
// not its subclasses) are presented with `role`. Call it first thing in Widget's
// constructor: an interface asked for before it is registered stays cached for that widget.
template <class Widget, QAccessible::Role role>
void registerAccessibleRole() {
    static const bool registered = [] {
        QAccessible::installFactory(&detail::widgetWithRole<Widget, role>);
        return true;
    }();
    (void)registered;
}

}  // namespace pexil::ui
