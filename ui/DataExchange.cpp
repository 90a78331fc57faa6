#include "ui/DataExchange.h"

#include <QAbstractButton>
#include <QRadioButton>
#include <QtGlobal>
#include <vector>

namespace ui {

QWidget* CDataExchange::control(int id) {
  QWidget* w = dialog.item(id);
  if (!w) {
    qWarning("data exchange: template %d has no control %d", dialog.templateId(), id);
    fail();
  }
  return w;
}

void ddxText(CDataExchange& dx, int id, std::string& value) {
  if (!dx.control(id)) return;
  if (dx.saveAndValidate) {
    value = dx.dialog.itemText(id);
  } else {
    dx.dialog.setItemText(id, value);
  }
}

void ddxCheck(CDataExchange& dx, int id, int& value) {
  if (!qobject_cast<QAbstractButton*>(dx.control(id))) {
    dx.fail();
    return;
  }
  if (dx.saveAndValidate) {
    value = dx.dialog.checkState(id);
  } else {
    dx.dialog.setCheckState(id, value);
  }
}

void ddxRadio(CDataExchange& dx, int firstId, int& value) {
  std::vector<QRadioButton*> group;
  for (int id = firstId; auto* radio = dx.dialog.itemAs<QRadioButton>(id); ++id) group.push_back(radio);
  if (group.empty()) {
    dx.control(firstId);  // reports the missing control
    dx.fail();
    return;
  }
  const int count = static_cast<int>(group.size());
  if (dx.saveAndValidate) {
    value = -1;
    for (int i = 0; i < count; ++i)
      if (group[i]->isChecked()) value = i;
    return;
  }
  for (int i = 0; i < count; ++i) {
    // An exclusive button refuses to be cleared by hand; clearing all needs exclusion off a moment.
    group[i]->setAutoExclusive(false);
    group[i]->setChecked(i == value);
    group[i]->setAutoExclusive(true);
  }
}

}  // namespace ui
