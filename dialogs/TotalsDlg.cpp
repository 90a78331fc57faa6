#include "dialogs/TotalsDlg.h"

#include "res/Resource.h"

CTotalsDlg::CTotalsDlg() : ui::CDialog(IDD_TOTALS) {
  refreshTimer.setInterval(kRefreshMs);
  connect(&refreshTimer, &QTimer::timeout, this, &CTotalsDlg::refresh);
  connect(this, &QDialog::finished, &refreshTimer, &QTimer::stop);
}

CTotalsDlg::~CTotalsDlg() = default;

bool CTotalsDlg::onInitDialog() {
  setItemText(IDC_TOTALS_HEADING, heading);
  refresh();
  refreshTimer.start();
  return true;
}

void CTotalsDlg::refresh() {
  if (!read) return;
  // One label a column, a line a row: the names and their figures stay side by side.
  std::string names, values;
  const char* between = "";
  for (const Row& row : read()) {
    names += between + row.name;
    values += between + row.value;
    between = "\n";
  }
  setItemText(IDC_TOTALS_LABELS, names);
  setItemText(IDC_TOTALS_VALUES, values);
}
