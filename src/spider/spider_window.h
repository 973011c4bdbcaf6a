// The spider window: crawls the web from a starting address and lists relevant pages.
#pragma once

#include <QWidget>

namespace zibu {

class TMainForm;

class TfrmSpider : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmSpider(TMainForm* frame, QWidget* parent = nullptr);
  ~TfrmSpider() override;

  void SetMainForm(TMainForm* frame) { mainForm = frame; }

 private:
  TMainForm* mainForm = nullptr;
};

}  // namespace zibu
