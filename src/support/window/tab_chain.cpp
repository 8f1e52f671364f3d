#include "support/window/tab_chain.h"

#include <QWidget>

#include "support/window/form_units.h"
#include "support/window/tab_order.h"

namespace ferrolyte {
namespace {

// The form's own controls: named widgets, not the helpers Qt creates inside them.
bool IsFormControl(const QWidget* widget) {
  const QString name = widget->objectName();
  return !name.isEmpty() && !name.startsWith(QLatin1String("qt_"));
}

}  // namespace

void SetTabOrder(QWidget* form) {
  std::vector<QWidget*> widgets;
  std::vector<TabControl> controls;
  for (QWidget* widget : form->findChildren<QWidget*>()) {
    if (!IsFormControl(widget)) continue;
    TabControl control;
    control.name = widget->objectName().toStdString();
    control.left = ToTwips(widget->x());
    control.top = ToTwips(widget->y());
    for (QWidget* container = widget->parentWidget(); container;
         container = container->parentWidget()) {
      control.containers.push_back({container->objectName().toStdString(), ToTwips(container->x()),
                                    ToTwips(container->y())});
      if (container == form) break;
    }
    widgets.push_back(widget);
    controls.push_back(std::move(control));
  }
  QWidget* previous = nullptr;
  for (int index : TabOrderSequence(controls, form->objectName().toStdString())) {
    QWidget* widget = widgets[static_cast<size_t>(index)];
    if (!(widget->focusPolicy() & Qt::TabFocus)) continue;
    if (previous) QWidget::setTabOrder(previous, widget);
    previous = widget;
  }
}

}  // namespace ferrolyte
