#include "runtime/qt/desktop_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QStringList>

#include <utility>

#include "runtime/qt/control_icons.h"
#include "runtime/windows/message_box.h"

namespace rt {
namespace {

constexpr std::pair<int, QMessageBox::StandardButton> kButtons[] = {
    {ButtonOk, QMessageBox::Ok},         {ButtonYes, QMessageBox::Yes},
    {ButtonNo, QMessageBox::No},         {ButtonAbort, QMessageBox::Abort},
    {ButtonRetry, QMessageBox::Retry},   {ButtonIgnore, QMessageBox::Ignore},
    {ButtonCancel, QMessageBox::Cancel}, {ButtonHelp, QMessageBox::Help},
};

QString Lines(const std::vector<std::string>& lines) {
  QStringList text;
  for (const std::string& line : lines) text << QString::fromLatin1(line.c_str());
  return text.join('\n');
}

void SetIcon(QMessageBox& box, const std::string& icon) {
  switch (StockIconNumber(icon)) {
    case kStockExclamation: box.setIcon(QMessageBox::Warning); return;
    case kStockInformation: box.setIcon(QMessageBox::Information); return;
    default: break;
  }
  const QIcon named = ControlIcon(icon, *box.style());
  if (!named.isNull()) box.setIconPixmap(named.pixmap(32, 32));
}

}  // namespace

int ShowDesktopMessageBox(const MessageBoxRequest& request, QWidget* parent) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromLatin1(request.Caption.c_str()));
  box.setTextFormat(Qt::PlainText);
  box.setText(Lines(request.Lines));
  SetIcon(box, request.Icon);
  for (const auto& [value, standard] : kButtons) {
    if (!(request.Buttons & value)) continue;
    box.addButton(standard);
    if (value == request.DefaultButton) box.setDefaultButton(standard);
  }
  const int pressed = box.exec();
  for (const auto& [value, standard] : kButtons)
    if (pressed == standard) return value;
  return 0;
}

void ShowDesktopHalt(const std::string& text, QWidget* parent) {
  MessageBoxRequest request;
  request.Caption = QApplication::applicationDisplayName().toStdString();
  request.Lines = {text};
  request.Icon = StockIcon(kStockInformation);
  ShowDesktopMessageBox(request, parent);
}

}  // namespace rt
