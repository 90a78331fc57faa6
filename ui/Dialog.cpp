#include "ui/Dialog.h"

#include "res/Resource.h"
#include "ui/Application.h"
#include "ui/Colors.h"
#include "ui/ControlFactory.h"
#include "ui/DataExchange.h"
#include "ui/LinkCtrl.h"
#include "ui/ListView.h"
#include "ui/SpinButton.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace ui {
namespace {

Qt::WindowFlags windowFlagsFor(uint32_t style) {
  Qt::WindowFlags flags = (style & res::DlgAppWindow) ? Qt::Window : Qt::Dialog;
  flags |= Qt::CustomizeWindowHint;
  if (style & res::DlgCaption) flags |= Qt::WindowTitleHint;
  if (style & res::DlgSysMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (style & res::DlgMinimizeBox) flags |= Qt::WindowMinimizeButtonHint;
  return flags;
}

}  // namespace

CDialog::CDialog(int templateId)
    : QDialog(nullptr), templateId_(templateId), tmpl_(res::findDialogTemplate(templateId)) {}

CDialog::~CDialog() = default;

bool CDialog::isChildPanel() const { return tmpl_ && (tmpl_->style & res::DlgChild); }

int CDialog::frameWidth() const {
  if (!isChildPanel()) return 0;  // a window's frame belongs to the window manager
  return ((tmpl_->style & res::DlgBorder) ? 1 : 0) + ((tmpl_->style & res::DlgStaticEdge) ? 1 : 0);
}

QRect CDialog::clientRect() const {
  if (!tmpl_) return {};
  const int f = frameWidth();
  return QRect(f, f, units_.toPixelsX(tmpl_->cx), units_.toPixelsY(tmpl_->cy));
}

bool CDialog::create(QWidget* parent) {
  if (!tmpl_ || created_) return false;
  const QFont font = dialogFont(tmpl_->fontFace, tmpl_->pointSize);
  if (isChildPanel()) {
    setParent(parent, Qt::Widget);
  } else {
    setParent(parent, windowFlagsFor(tmpl_->style));
    setWindowTitle(QString::fromUtf8(tmpl_->title));
  }
  setFont(font);
  units_ = DialogUnits::fromFont(font, this);
  const QRect client = clientRect();
  const QSize size = client.size() + QSize(2 * client.x(), 2 * client.y());
  if (isChildPanel()) {
    setGeometry(QRect(QPoint(0, 0), size));  // placed by the owner's layout
  } else {
    setFixedSize(size);  // no sizing border
  }
  buildControls();
  created_ = true;
  if (!(tmpl_->style & res::DlgVisible)) setVisible(false);
  onInitDialog();
  refreshColors();
  if (tmpl_->style & res::DlgVisible) setVisible(true);
  return true;
}

void CDialog::buildControls() {
  const QPoint origin = clientRect().topLeft();
  QWidget* previous = nullptr;
  for (const res::ControlTemplate& c : tmpl_->controls) {
    const QRect rect = units_.toPixels(c.x, c.y, c.cx, c.cy).translated(origin);
    QWidget* control = createControl(c, this, rect, previous);
    if (c.id != IDC_STATIC) {
      items_.try_emplace(c.id, control);
      connectControl(control, c.id);
    }
    previous = control;
  }
}

void CDialog::connectControl(QWidget* control, int id) {
  if (auto* b = qobject_cast<QAbstractButton*>(control)) {
    connect(b, &QAbstractButton::clicked, this, [this, id] { command(id); });
  } else if (auto* l = qobject_cast<CLinkCtrl*>(control)) {
    connect(l, &CLinkCtrl::clicked, this, [this, id] { command(id); });
  }
}

int CDialog::doModal(QWidget* parent) {
  if (!tmpl_ || isChildPanel()) return -1;
  if (!created_ && !create(parent)) return -1;
  setWindowModality(Qt::ApplicationModal);
  return exec();
}

void CDialog::endDialog(int result) { QDialog::done(result); }

void CDialog::centerOn(const QWidget* other) {
  const QScreen* screen = other ? other->screen() : this->screen();
  const QRect work = screen ? screen->availableGeometry() : QRect();
  const QPoint centre = other ? other->mapToGlobal(other->rect().center()) : work.center();
  QRect frame = frameGeometry();
  frame.moveCenter(centre);
  if (isWindow() && work.isValid()) {
    // Keep the caption reachable: inside the work area, the top-left corner winning.
    frame.moveRight(std::min(frame.right(), work.right()));
    frame.moveBottom(std::min(frame.bottom(), work.bottom()));
    frame.moveLeft(std::max(frame.left(), work.left()));
    frame.moveTop(std::max(frame.top(), work.top()));
  }
  QPoint topLeft = frame.topLeft();
  if (!isWindow() && parentWidget()) topLeft = parentWidget()->mapFromGlobal(topLeft);
  move(topLeft);
}

bool CDialog::updateData(bool saveAndValidate) {
  CDataExchange dx(*this, saveAndValidate);
  doDataExchange(dx);
  if (!saveAndValidate) refreshColors();
  return !dx.failed();
}

void CDialog::command(int id) {
  if (auto it = commands_.find(id); it != commands_.end()) {
    const std::function<void()> handler = it->second;  // the handler may re-register itself
    handler();
  } else if (id == IDOK) {
    onOK();
  } else if (id == IDCANCEL) {
    onCancel();
  }
}

void CDialog::onCommand(int id, std::function<void()> handler) { commands_[id] = std::move(handler); }

bool CDialog::onInitDialog() {
  updateData(false);
  return true;
}

void CDialog::doDataExchange(CDataExchange&) {}

void CDialog::onOK() {
  if (!updateData(true)) return;
  endDialog(IDOK);
}

void CDialog::onCancel() { endDialog(IDCANCEL); }

void CDialog::accept() { command(IDOK); }

void CDialog::reject() {
  command(IDCANCEL);  // Escape and the close box arrive here through QDialog
}

std::optional<QColor> CDialog::controlColor(int, res::ControlKind) const { return std::nullopt; }

void CDialog::refreshColors() {
  if (!created_) return;
  if (const auto color = dialogColor()) setBackground(this, *color);
  else
    clearBackground(this);
  for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!control->property("controlKind").isValid()) continue;  // a nested panel, not ours
    const auto color = controlColor(controlId(control), controlKind(control));
    if (color) setBackground(control, *color);
    else
      clearBackground(control);
  }
}

QPushButton* CDialog::defaultButton() const {
  for (QPushButton* b : findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    if (b->isDefault() && b->isVisible()) return b;
  }
  return nullptr;
}

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (isChildPanel()) {
    event->ignore();  // a panel's Enter and Escape belong to the window around it
    return;
  }
  if (event->matches(QKeySequence::Cancel)) {
    command(IDCANCEL);
    return;
  }
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const auto mods = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && mods == Qt::NoModifier) {
    if (QPushButton* b = defaultButton()) {
      if (b->isEnabled()) b->click();
    } else {
      command(IDOK);
    }
    return;
  }
  QDialog::keyPressEvent(event);
}

void CDialog::paintEvent(QPaintEvent* event) {
  QDialog::paintEvent(event);
  const int f = frameWidth();
  if (f == 0) return;
  QPainter p(this);
  QRect r = rect().adjusted(0, 0, -1, -1);
  if (tmpl_->style & res::DlgBorder) {
    p.setPen(palette().color(QPalette::WindowText));
    p.drawRect(r);
    r.adjust(1, 1, -1, -1);
  }
  if (tmpl_->style & res::DlgStaticEdge) {
    p.setPen(palette().color(QPalette::Dark));  // sunken: shadow above and left
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(palette().color(QPalette::Light));
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
  }
}

QWidget* CDialog::item(int id) const {
  const auto it = items_.find(id);
  return it == items_.end() ? nullptr : it->second;
}

QAbstractButton* CDialog::button(int id) const { return itemAs<QAbstractButton>(id); }
QLineEdit* CDialog::edit(int id) const { return itemAs<QLineEdit>(id); }
QLabel* CDialog::label(int id) const { return itemAs<QLabel>(id); }
CSpinButton* CDialog::spin(int id) const { return itemAs<CSpinButton>(id); }
CLinkCtrl* CDialog::link(int id) const { return itemAs<CLinkCtrl>(id); }
QListWidget* CDialog::listBox(int id) const { return itemAs<QListWidget>(id); }

std::string CDialog::itemText(int id) const {
  QWidget* w = item(id);
  if (auto* l = qobject_cast<CLinkCtrl*>(w)) return l->linkText();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* e = qobject_cast<QPlainTextEdit*>(w)) return e->toPlainText().toStdString();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
  return {};
}

void CDialog::setItemText(int id, const std::string& text) {
  QWidget* w = item(id);
  const QString value = QString::fromStdString(text);
  if (auto* link = qobject_cast<CLinkCtrl*>(w)) {
    link->setLinkText(text);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    if (l->text() != value) l->setText(value);
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (e->text() != value) e->setText(value);  // unchanged text keeps the cursor where it is
  } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
    if (p->toPlainText() != value) p->setPlainText(value);
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(value);
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(value);
  }
}

int CDialog::checkState(int id) const {
  if (auto* c = itemAs<QCheckBox>(id); c && c->checkState() == Qt::PartiallyChecked) return 2;
  const QAbstractButton* b = button(id);
  return b && b->isChecked() ? 1 : 0;
}

void CDialog::setCheckState(int id, int state) {
  if (QAbstractButton* b = button(id); b && b->isCheckable()) b->setChecked(state != 0);
}

void CDialog::enableItem(int id, bool enable) {
  if (QWidget* w = item(id)) w->setEnabled(enable);
}

}  // namespace ui
