#pragma once

#include <QObject>

// Runs `set` on `widget` with its signals blocked: loading a value into a
// widget must never run the slot that writes it to the controller.
template <typename Widget, typename Setter>
void setWithoutSignals(Widget *widget, Setter set)
{
    widget->blockSignals(true);
    set(widget);
    widget->blockSignals(false);
}
