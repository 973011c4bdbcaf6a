#include "spider/spider_window.h"

namespace zibu {

TfrmSpider::TfrmSpider(TMainForm* frame, QWidget* parent) : QWidget(parent), mainForm(frame) {
  setWindowTitle("Spider");
  setAttribute(Qt::WA_DeleteOnClose);
}

TfrmSpider::~TfrmSpider() = default;

}  // namespace zibu
