// Base of every dialog and panel of the program. A dialog is described by a template
// (res/): create() builds the window and its controls from it, then onInitDialog runs.
// Controls are found by id; clicks arrive as commands of their id; doDataExchange binds
// members to controls and updateData moves the values one way or the other.
#pragma once

#include "res/DialogTemplate.h"
#include "ui/DialogUnits.h"

#include <QColor>
#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>

class QAbstractButton;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace ui {

class CDataExchange;
class CLinkCtrl;
class CSpinButton;

class CDialog : public QDialog {
  Q_OBJECT
public:
  explicit CDialog(int templateId);
  ~CDialog() override;

  // Builds the window: a child template becomes a panel inside `parent` (hidden until
  // shown, unless the template says visible); any other becomes a window owned by
  // `parent`. Runs onInitDialog. False when the template is unknown or already built.
  bool create(QWidget* parent = nullptr);
  bool isCreated() const { return tmpl_ && created_; }

  // Builds the window if needed and runs it modally; returns the code given to endDialog.
  // -1 for a child template or an unknown one.
  int doModal(QWidget* parent = nullptr);
  // Ends a modal run with `result`; a modeless dialog is hidden.
  void endDialog(int result);
  void showWindow(bool show) { setVisible(show); }
  // Centres the window over `other`, or over the screen's work area when it is null;
  // a top-level window is kept inside the work area.
  void centerOn(const QWidget* other);

  // false: members -> controls; true: controls -> members. False when a bound control is
  // missing (a programming error, also reported with qWarning).
  bool updateData(bool saveAndValidate = true);

  // Runs the handler registered for `id`; without one, IDOK runs onOK and IDCANCEL onCancel.
  void command(int id);

  // Controls by id (nullptr when there is none or the type differs).
  QWidget* item(int id) const;
  template <class W>
  W* itemAs(int id) const {
    return qobject_cast<W*>(item(id));
  }
  QAbstractButton* button(int id) const;  // push buttons and both kinds of check box
  QLineEdit* edit(int id) const;
  QLabel* label(int id) const;
  CSpinButton* spin(int id) const;
  CLinkCtrl* link(int id) const;
  QListWidget* listBox(int id) const;

  // Text of any control: static, edit, button, group box caption, link markup.
  std::string itemText(int id) const;
  void setItemText(int id, const std::string& text);
  // Check state of a check box: 0 cleared, 1 ticked.
  int checkState(int id) const;
  void setCheckState(int id, int state);
  void enableItem(int id, bool enable);

  int templateId() const { return templateId_; }
  const res::DialogTemplate* dialogTemplate() const { return tmpl_; }
  const DialogUnits& units() const { return units_; }
  bool isChildPanel() const;
  // The client area: the template's size in pixels, inside the border of a child panel.
  QRect clientRect() const;

  // Applies dialogColor/controlColor to the dialog and every control. Runs after
  // creation and after every push (updateData(false)).
  void refreshColors();

  // Qt's own ways of ending a dialog lead to our OK and Cancel commands.
  void accept() override;
  void reject() override;

protected:
  // After the controls exist. The default pushes the members into the controls.
  virtual bool onInitDialog();
  virtual void doDataExchange(CDataExchange& dx);
  // Default OK: pull, then endDialog(IDOK). Default Cancel: endDialog(IDCANCEL).
  virtual void onOK();
  virtual void onCancel();
  // Colour rules: a background colour, or nullopt for the default look.
  virtual std::optional<QColor> dialogColor() const { return std::nullopt; }
  virtual std::optional<QColor> controlColor(int id, res::ControlKind kind) const;

  // Registers a handler for clicks of control `id` (or for command(id)).
  void onCommand(int id, std::function<void()> handler);
  template <class D>
  void onCommand(int id, void (D::*handler)()) {
    static_assert(std::is_base_of_v<CDialog, D>, "handlers are members of the dialog");
    onCommand(id, [this, handler] { (static_cast<D*>(this)->*handler)(); });
  }

  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

private:
  void buildControls();
  void connectControl(QWidget* control, int id);
  int frameWidth() const;
  QPushButton* defaultButton() const;

  const int templateId_;
  const res::DialogTemplate* tmpl_;  // static data, never owned
  bool created_ = false;
  DialogUnits units_;
  std::unordered_map<int, QWidget*> items_;  // controls are owned by the dialog as children
  std::unordered_map<int, std::function<void()>> commands_;
};

}  // namespace ui
