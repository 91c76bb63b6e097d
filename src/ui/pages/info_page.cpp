#include "ui/pages/info_page.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QVBoxLayout>

namespace dravion::ui {

InfoPage::InfoPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("TabSheet_DevInfo"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 0);
  layout->setSpacing(0);
  memo_ = new QTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo_Info"));
  memo_->setReadOnly(true);
  QFont font;
  font.setFamilies({QStringLiteral("Courier"), QStringLiteral("Courier New"),
                    QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                    QStringLiteral("Monospace")});
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(13);
  memo_->setFont(font);
  memo_->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
  memo_->setLineWrapMode(QTextEdit::NoWrap);
  layout->addWidget(memo_, 1);

  auto* strip = new QWidget(this);
  strip->setFixedHeight(47);
  auto* stripLayout = new QHBoxLayout(strip);
  stripLayout->setContentsMargins(0, 8, 0, 8);
  update_ = new QPushButton(strip);
  update_->setObjectName(QStringLiteral("BitBtn_ReNewDeviceInfo"));
  update_->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  update_->setEnabled(false);
  update_->setMinimumWidth(160);
  stripLayout->addStretch(1);
  stripLayout->addWidget(update_);
  stripLayout->addStretch(1);
  layout->addWidget(strip);
}

void InfoPage::ShowInformationLines(const std::vector<std::string>& lines) {
  QStringList text;
  for (const auto& line : lines)
    text << QString::fromStdString(line);
  // Plain text: a device name is shown as it stands, never read as markup.
  memo_->setPlainText(text.join(QLatin1Char('\n')));
  memo_->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
}

}  // namespace dravion::ui

namespace dravion::ui {

void InfoPage::SetUpdateButtonEnabled(bool enabled) {
  update_->setEnabled(enabled);
}

}  // namespace dravion::ui
