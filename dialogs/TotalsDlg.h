#pragma once
// One slot's totals since it was last switched on, as a small window to read rather than greyed
// menu lines. Run modally; while it is open it reads the figures again once a second.
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "ui/Dialog.h"

class CTotalsDlg : public ui::CDialog {
  Q_OBJECT
public:
  static constexpr int kRefreshMs = 1000;

  struct Row {
    std::string name;   // left column, "処理した接続"
    std::string value;  // right column, "1,234"
  };

  CTotalsDlg();
  ~CTotalsDlg() override;

  std::string heading;  // control 1111, "TCP:10080 ON以降の累計"
  // The figures as they are now, read at the opening and at every refresh; what it reads must
  // outlive the dialog's run.
  std::function<std::vector<Row>()> read;

  // Reads the figures into the two columns; the timer calls it while the dialog is open.
  void refresh();

protected:
  bool onInitDialog() override;

private:
  QTimer refreshTimer;
};
