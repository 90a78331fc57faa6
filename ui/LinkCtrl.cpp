#include "ui/LinkCtrl.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace ui {

QString linkMarkupToHtml(const QString& markup) {
  // Escape everything first so stray '<' or '&' show as typed, then revive the anchors.
  QString html = markup.toHtmlEscaped();
  html.replace(QStringLiteral("&lt;a&gt;"), QStringLiteral("<a href=\"#\">"), Qt::CaseInsensitive);
  html.replace(QStringLiteral("&lt;/a&gt;"), QStringLiteral("</a>"), Qt::CaseInsensitive);
  return html;
}

CLinkCtrl::CLinkCtrl(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::RichText);
  setTextInteractionFlags(Qt::NoTextInteraction);  // we take the clicks ourselves
  setOpenExternalLinks(false);
  setFocusPolicy(Qt::TabFocus);
  setCursor(Qt::PointingHandCursor);
}

void CLinkCtrl::setLinkText(const std::string& markup) {
  markup_ = markup;
  setText(linkMarkupToHtml(QString::fromStdString(markup)));
}

void CLinkCtrl::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void CLinkCtrl::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click && isEnabled()) emit clicked();
}

void CLinkCtrl::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

}  // namespace ui
