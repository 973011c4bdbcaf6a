#include "ui/big_text_window.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "ui/qtext.h"

namespace zibu {

TfrmShowBigText::TfrmShowBigText(QWidget* parent) : QDialog(parent) {
  setWindowTitle("frmShowBigText");
  setObjectName("frmShowBigText");
  resize(786, 641);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(Memo1);
}

void ShowBigText(const std::string& text) {
  TfrmShowBigText viewer(QApplication::activeWindow());
  std::string t;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    t += text[i];
  }
  viewer.Memo1->setPlainText(ToQ(t));
  viewer.exec();
}

void ShowBigText(const std::string& title, const std::string& text) {
  TfrmShowBigText viewer(QApplication::activeWindow());
  viewer.setWindowTitle(ToQ(title));
  std::string t;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    t += text[i];
  }
  viewer.Memo1->setPlainText(ToQ(t));
  viewer.exec();
}

}  // namespace zibu
