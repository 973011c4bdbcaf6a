// TfrmShowBigText: a modal viewer for a long text, read-only, without word wrap.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace zibu {

class TfrmShowBigText : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmShowBigText(QWidget* parent = nullptr);
  QPlainTextEdit* Memo1;
};

// Shows `text` in a big-text viewer modally; the viewer is destroyed when closed.
void ShowBigText(const std::string& text);
void ShowBigText(const std::string& title, const std::string& text);

}  // namespace zibu
