// A link control: text with one "<a>...</a>" part drawn as a link. Clicking it (or
// pressing Space/Enter while it has the focus) emits clicked(); what the click opens is
// the owner's business.
#pragma once

#include <QLabel>
#include <string>

namespace ui {

class CLinkCtrl : public QLabel {
  Q_OBJECT
public:
  explicit CLinkCtrl(QWidget* parent = nullptr);

  // Markup as the template gives it, e.g. "<a>Home page</a>"; anything else is plain text.
  void setLinkText(const std::string& markup);
  std::string linkText() const { return markup_; }

signals:
  void clicked();

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  std::string markup_;
  bool pressed_ = false;
};

// The markup turned into the rich text the label shows (exposed for tests).
QString linkMarkupToHtml(const QString& markup);

}  // namespace ui
