#include "gui/ReceivedList.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/DialogServices.h"

namespace {

// Each row keeps what it stands for: a file's full path, or a text.
enum Role { kPathRole = Qt::UserRole, kTextRole };
enum Column { kName, kSize, kTime };

}  // namespace

CReceivedList::CReceivedList(QWidget* parent, const QString& folder, std::function<void(const QString&)> showText,
                             std::function<void()> showFolder)
    : QDialog(parent), m_strFolder(folder), m_showText(std::move(showText)) {
  setWindowTitle(tr("收到的文件"));
  setModal(false);
  m_pTree = new QTreeWidget(this);
  m_pTree->setHeaderLabels({tr("名称"), tr("大小"), tr("时间")});
  m_pTree->setRootIsDecorated(false);
  m_pTree->setUniformRowHeights(true);
  m_pTree->setAllColumnsShowFocus(true);
  m_pTree->header()->setStretchLastSection(false);
  m_pTree->header()->setSectionResizeMode(kName, QHeaderView::Stretch);
  m_pTree->header()->setSectionResizeMode(kSize, QHeaderView::ResizeToContents);
  m_pTree->header()->setSectionResizeMode(kTime, QHeaderView::ResizeToContents);
  // Double-click and Enter.
  connect(m_pTree, &QTreeWidget::itemActivated, this, [this] { OpenSelected(); });

  m_pOpen = new QPushButton(tr("打开"), this);
  m_pFolder = new QPushButton(tr("在文件夹中显示"), this);
  auto* close = new QPushButton(tr("关闭"), this);
  connect(m_pOpen, &QPushButton::clicked, this, [this] { OpenSelected(); });
  connect(m_pFolder, &QPushButton::clicked, this, [showFolder = std::move(showFolder)] { showFolder(); });
  connect(close, &QPushButton::clicked, this, &QDialog::hide);
  for (QPushButton* b : {m_pOpen, m_pFolder, close}) b->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(m_pOpen);
  buttons->addWidget(m_pFolder);
  buttons->addStretch();
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pTree);
  layout->addLayout(buttons);
  resize(480, 300);

  m_pWatcher = new QFileSystemWatcher(this);
  m_pWatcher->addPath(m_strFolder);
  connect(m_pWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { DropMissing(); });
}

QTreeWidgetItem* CReceivedList::AddRow(const QString& name, const QString& size, const QDateTime& when) {
  auto* item = new QTreeWidgetItem({name, size, QLocale().toString(when.time(), QLocale::ShortFormat)});
  item->setToolTip(kTime, QLocale().toString(when, QLocale::LongFormat));
  item->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
  m_pTree->insertTopLevelItem(0, item);  // the newest first
  m_pTree->setCurrentItem(item);
  return item;
}

void CReceivedList::AddFile(const QString& path) {
  ++m_filesReceived;
  const QFileInfo file(path);
  QTreeWidgetItem* item =
      AddRow(file.fileName(), QLocale().formattedDataSize(file.size()), QDateTime::currentDateTime());
  item->setData(kName, kPathRole, file.absoluteFilePath());
  item->setToolTip(kName, file.absoluteFilePath());
  if (m_pWatcher->directories().isEmpty()) m_pWatcher->addPath(m_strFolder);  // made after the list
}

void CReceivedList::AddText(const QString& text) {
  // The start of the text on one line; the whole opens in the text box.
  QString start = text.left(80).simplified();
  if (text.size() > 80) start += QStringLiteral("…");
  QTreeWidgetItem* item = AddRow(tr("文字：") + start, tr("%1 字").arg(text.size()), QDateTime::currentDateTime());
  item->setData(kName, kTextRole, text);
}

void CReceivedList::DropMissing() {
  for (int i = m_pTree->topLevelItemCount(); i-- > 0;) {
    const QString path = m_pTree->topLevelItem(i)->data(kName, kPathRole).toString();
    if (!path.isEmpty() && !QFileInfo::exists(path)) delete m_pTree->takeTopLevelItem(i);
  }
}

void CReceivedList::OpenSelected() {
  const QTreeWidgetItem* item = m_pTree->currentItem();
  if (!item) return;
  const QString path = item->data(kName, kPathRole).toString();
  if (!path.isEmpty()) {
    DialogServices().OpenUrl(QUrl::fromLocalFile(path));
  } else if (m_showText) {
    m_showText(item->data(kName, kTextRole).toString());
  }
}
