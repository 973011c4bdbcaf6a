#include "spider/spider_window.h"

TfrmSpider::TfrmSpider(TMainForm* frame, QWidget* parent) : QWidget(parent), mainForm(frame) {
  setWindowTitle("Spider");
  setAttribute(Qt::WA_DeleteOnClose);
}

TfrmSpider::~TfrmSpider() = default;
