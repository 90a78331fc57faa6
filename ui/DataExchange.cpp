#include "ui/DataExchange.h"

#include "ui/SpinButton.h"

#include <QAbstractButton>
#include <QtGlobal>

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

void ddxSpinPos(CDataExchange& dx, int id, int& value) {
  auto* spin = qobject_cast<CSpinButton*>(dx.control(id));
  if (!spin) {
    dx.fail();
    return;
  }
  if (dx.saveAndValidate) {
    value = spin->pos();
  } else {
    spin->setPos(value);
  }
}

}  // namespace ui
