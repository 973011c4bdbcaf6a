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

namespace {

void ShowBigTextIn(TfrmShowBigText& viewer, const std::string& text) {
  // The text arrives with CR LF line breaks; the memo wants line feeds.
  std::string t;
  t.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    t += text[i];
  }
  viewer.Memo1->setPlainText(ToQ(t));
  viewer.exec();
}

}  // namespace

void ShowBigText(const std::string& text) {
  TfrmShowBigText viewer(QApplication::activeWindow());
  ShowBigTextIn(viewer, text);
}

void ShowBigText(const std::string& title, const std::string& text) {
  TfrmShowBigText viewer(QApplication::activeWindow());
  viewer.setWindowTitle(ToQ(title));
  ShowBigTextIn(viewer, text);
}

}  // namespace zibu
