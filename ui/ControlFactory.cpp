#include "ui/ControlFactory.h"

#include "res/Resource.h"
#include "ui/LinkCtrl.h"
#include "ui/ListView.h"
#include "ui/SpinButton.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace ui {
namespace {

using res::ControlKind;

constexpr const char* kIdProperty = "controlId";
constexpr const char* kKindProperty = "controlKind";
constexpr int kIconSize = 32;
constexpr int kSpinOverlap = 2;  // the buddy's right border, under the spin
// Qt's arrows need less room than the desktop's, and the substitute font's digits are wider
// than the original's: the spin gives these pixels to its buddy so five digits fit.
constexpr int kSpinSlimming = 4;
constexpr int kLineHeightDlu = 8;  // one text line is 8 vertical dialog units

Qt::Alignment horizontalAlignment(uint32_t style) {
  if (style & res::AlignRight) return Qt::AlignRight;
  if (style & res::AlignCenter) return Qt::AlignHCenter;
  return Qt::AlignLeft;
}

QWidget* makeStatic(const res::ControlTemplate& c) {
  auto* label = new QLabel;
  label->setTextFormat(Qt::PlainText);  // "&" and "<" show as typed
  const bool centred = c.style & res::VCenter;
  label->setAlignment(horizontalAlignment(c.style) | (centred ? Qt::AlignVCenter : Qt::AlignTop));
  // Wrap only where a second line can show: the substitute font runs a little wider than
  // the one the templates were drawn for, and a one-line label that wrapped would show
  // half its words instead of losing a pixel or two at its end.
  label->setWordWrap(!centred && c.cy >= 2 * kLineHeightDlu);
  return label;
}

QWidget* makeButton(const res::ControlTemplate& c) {
  auto* button = new QPushButton;
  button->setAutoDefault(true);  // a focused push button takes Enter, as users expect
  button->setDefault(c.style & res::Default);
  return button;
}

QWidget* makeCheckBox(const res::ControlTemplate& c) {
  if (c.style & res::PushLike) {
    auto* button = new QPushButton;
    button->setCheckable(true);
    button->setAutoDefault(false);  // a switch, never the dialog's default action
    return button;
  }
  return new QCheckBox;
}

QWidget* makeMultilineEdit(const res::ControlTemplate& c) {
  auto* edit = new QPlainTextEdit;
  edit->setFrameShape((c.style & res::Border) ? QFrame::StyledPanel : QFrame::NoFrame);
  edit->setReadOnly(c.style & res::ReadOnly);
  edit->setLineWrapMode(QPlainTextEdit::NoWrap);
  edit->setUndoRedoEnabled(false);
  return edit;
}

QWidget* makeEdit(const res::ControlTemplate& c) {
  if (c.style & res::Multiline) return makeMultilineEdit(c);
  auto* edit = new QLineEdit;
  edit->setFrame(c.style & res::Border);
  edit->setAlignment(horizontalAlignment(c.style) | Qt::AlignVCenter);
  // The templates leave a desktop edit box's one-pixel inner margin; Qt's own is wider, and
  // five digits would no longer fit a port field.
  edit->setTextMargins(-1, 0, -1, 0);
  edit->setReadOnly(c.style & res::ReadOnly);
  return edit;
}

QWidget* makeListView(const res::ControlTemplate& c) {
  auto* list = new CListView;
  list->setSingleSelection(c.style & res::SingleSelection);
  list->setFrameShape((c.style & res::Border) ? QFrame::StyledPanel : QFrame::NoFrame);
  return list;
}

QWidget* makeListBox(const res::ControlTemplate& c) {
  auto* list = new QListWidget;
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setFrameShape((c.style & res::Border) ? QFrame::StyledPanel : QFrame::NoFrame);
  list->setUniformItemSizes(true);
  return list;
}

QWidget* makeComboBox(const QString& items) {
  auto* combo = new QComboBox;
  combo->addItems(items.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
  return combo;
}

QWidget* makeIcon() {
  auto* label = new QLabel;
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) label->setPixmap(icon.pixmap(kIconSize, kIconSize));
  return label;
}

QWidget* makeWidget(const res::ControlTemplate& c, const QString& text) {
  switch (c.kind) {
    case ControlKind::GroupBox: {
      auto* box = new QGroupBox(text);
      box->setFocusPolicy(Qt::NoFocus);
      return box;
    }
    case ControlKind::PushButton: return makeButton(c);
    case ControlKind::CheckBox: return makeCheckBox(c);
    case ControlKind::Static: return makeStatic(c);
    case ControlKind::Edit: return makeEdit(c);
    case ControlKind::Spin: return new CSpinButton;
    case ControlKind::ListView: return makeListView(c);
    case ControlKind::Link: {
      auto* link = new CLinkCtrl;
      link->setLinkText(c.text);
      return link;
    }
    case ControlKind::Icon: return makeIcon();
    case ControlKind::RadioButton: return new QRadioButton;
    case ControlKind::ListBox: return makeListBox(c);
    case ControlKind::ComboBox: return makeComboBox(text);
  }
  return new QWidget;
}

void setPlainText(QWidget* w, const QString& text) {
  if (auto* label = qobject_cast<QLabel*>(w)) {
    if (label->textFormat() == Qt::PlainText) label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    button->setText(text);
  } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
    edit->setText(text);
  } else if (auto* lines = qobject_cast<QPlainTextEdit*>(w)) {
    lines->setPlainText(text);
  }
}

// The spin takes the right end of its buddy's rectangle and covers the buddy's right border, as
// the desktop's up-down control does; the buddy gives up the rest of that room.
void attachSpin(CSpinButton* spin, QWidget* previous, uint32_t style, QRect rect) {
  auto* buddy = (style & res::SpinAutoBuddy) ? qobject_cast<QLineEdit*>(previous) : nullptr;
  if (buddy && (style & res::SpinAlignRight)) {
    QRect b = buddy->geometry();
    const int width = std::min(rect.width() - kSpinSlimming, b.width());
    b.setWidth(b.width() - width + kSpinOverlap);
    buddy->setGeometry(b);
    rect = QRect(b.x() + b.width() - kSpinOverlap, b.y(), width, b.height());
  }
  spin->setGeometry(rect);
  spin->setArrowKeys(style & res::SpinArrowKeys);
  spin->setBuddy(buddy);
}

}  // namespace

QString controlObjectName(int id) { return id == IDC_STATIC ? QString() : QStringLiteral("id%1").arg(id); }

QWidget* createControl(const res::ControlTemplate& c, QWidget* parent, const QRect& rect, QWidget* previous) {
  const QString text = QString::fromUtf8(c.text ? c.text : "");
  QWidget* w = makeWidget(c, text);
  w->setParent(parent);
  w->setObjectName(controlObjectName(c.id));
  w->setProperty(kIdProperty, c.id);
  w->setProperty(kKindProperty, static_cast<int>(c.kind));
  setPlainText(w, text);
  if (auto* spin = qobject_cast<CSpinButton*>(w)) {
    attachSpin(spin, previous, c.style, rect);
  } else {
    w->setGeometry(rect);
  }
  return w;
}

res::ControlKind controlKind(const QWidget* control) {
  return static_cast<res::ControlKind>(control->property(kKindProperty).toInt());
}

int controlId(const QWidget* control) {
  const QVariant id = control ? control->property(kIdProperty) : QVariant();
  return id.isValid() ? id.toInt() : IDC_STATIC;
}

}  // namespace ui
