#include "dialogs/AccessDlg.h"

#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <algorithm>

#include "filter/IpFilter.h"
#include "net/ListenAddress.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/MessageBox.h"

namespace {

std::string trimmed(const std::string& text) { return QString::fromStdString(text).trimmed().toStdString(); }

// The message with the user's text in place of %1.
std::string naming(const char* message, const std::string& text) {
  return QString::fromUtf8(message).arg(QString::fromStdString(text)).toStdString();
}

}  // namespace

CAccessDlg::CAccessDlg(CIpFilter& workingFilter, std::string& workingListenHost)
    : ui::CDialog(IDD_ACCESS), filter_(workingFilter), listenHost_(workingListenHost) {
  onCommand(IDC_ALLOW_ADD, [this] { addRule(IDC_ALLOW_EDIT, IDC_ALLOW_LIST); });
  onCommand(IDC_DENY_ADD, [this] { addRule(IDC_DENY_EDIT, IDC_DENY_LIST); });
  onCommand(IDC_ALLOW_REMOVE, [this] { removeRule(IDC_ALLOW_LIST); });
  onCommand(IDC_DENY_REMOVE, [this] { removeRule(IDC_DENY_LIST); });
}

CAccessDlg::~CAccessDlg() = default;

void CAccessDlg::doDataExchange(ui::CDataExchange& dx) {
  ui::ddxRadio(dx, IDC_MODE_ALL, mode);
  ui::ddxText(dx, IDC_LISTEN_HOST_EDIT, listenHost);
}

bool CAccessDlg::onInitDialog() {
  // A mode the radio buttons cannot show serves everyone, as "all" does.
  mode = filter_.mode >= CIpFilter::ModeAcceptAll && filter_.mode <= CIpFilter::ModeRules ? filter_.mode
                                                                                          : CIpFilter::ModeAcceptAll;
  listenHost = listenHost_;
  fillList(IDC_ALLOW_LIST, filter_.allowRules, filter_.allowCount);
  fillList(IDC_DENY_LIST, filter_.denyRules, filter_.denyCount);
  return ui::CDialog::onInitDialog();
}

void CAccessDlg::fillList(int listId, const std::string* entries, int count) {
  QListWidget* list = listBox(listId);
  list->clear();
  for (int i = 0; i < std::clamp(count, 0, int{CIpFilter::kMaxRules}); ++i)
    list->addItem(QString::fromStdString(entries[i]));
}

std::vector<std::string> CAccessDlg::rules(int listId) const {
  std::vector<std::string> texts;
  const QListWidget* list = listBox(listId);
  for (int i = 0; list && i < list->count(); ++i) texts.push_back(list->item(i)->text().toStdString());
  return texts;
}

// Stores the list into the leading entries and returns its length. The file keeps a rule only
// up to the first empty entry, so the entry after the list is emptied, and so are the ones the
// list no longer reaches; an inactive rule after an earlier gap stays as it was.
int CAccessDlg::takeList(int listId, std::string* entries, int oldCount) const {
  const std::vector<std::string> texts = rules(listId);
  const int count = std::min(static_cast<int>(texts.size()), int{CIpFilter::kMaxRules});
  for (int i = 0; i < count; ++i) entries[i] = texts[i];
  const int clearTo = std::max(std::clamp(oldCount, 0, int{CIpFilter::kMaxRules}), count + 1);
  for (int i = count; i < std::min(clearTo, int{CIpFilter::kMaxRules}); ++i) entries[i].clear();
  return count;
}

// Moves the edit box's rule into the list. False (after a message) when it cannot go there;
// an empty edit box adds nothing and is no failure.
bool CAccessDlg::addRule(int editId, int listId) {
  const std::string rule = trimmed(itemText(editId));
  if (rule.empty()) return true;
  QListWidget* list = listBox(listId);
  if (!CIpFilter::isValidRule(rule)) {
    ui::messageBox(naming(kBadRule, rule), this);
  } else if (list->count() >= CIpFilter::kMaxRules) {
    ui::messageBox(kTooManyRules, this);
  } else {
    list->addItem(QString::fromStdString(rule));
    list->setCurrentRow(list->count() - 1);
    setItemText(editId, "");
    return true;
  }
  edit(editId)->setFocus();
  return false;
}

void CAccessDlg::removeRule(int listId) {
  QListWidget* list = listBox(listId);
  const int row = list->currentRow();
  if (row < 0 || !list->item(row)->isSelected()) return;
  delete list->takeItem(row);
  // Nothing stays selected, so a second click cannot take a neighbour the user never chose.
  list->setCurrentItem(nullptr);
  list->clearSelection();
}

void CAccessDlg::onOK() {
  // A rule typed but not yet added is what the user meant to keep: add it, or stay open.
  if (!addRule(IDC_ALLOW_EDIT, IDC_ALLOW_LIST) || !addRule(IDC_DENY_EDIT, IDC_DENY_LIST)) return;
  if (!updateData(true)) return;
  listenHost = trimmed(listenHost);
  if (!listenHost.empty() && net::literalFamily(listenHost) == 0) {
    ui::messageBox(naming(kBadListenHost, listenHost), this);
    edit(IDC_LISTEN_HOST_EDIT)->setFocus();
    return;
  }
  filter_.mode = mode < 0 ? CIpFilter::ModeAcceptAll : mode;
  filter_.allowCount = takeList(IDC_ALLOW_LIST, filter_.allowRules, filter_.allowCount);
  filter_.denyCount = takeList(IDC_DENY_LIST, filter_.denyRules, filter_.denyCount);
  listenHost_ = listenHost;
  endDialog(IDOK);
}
