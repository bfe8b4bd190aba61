#include "shell/progress_panel.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QThread>
#include <QVBoxLayout>

#include "platform/text.h"

namespace kv {

ProgressPanel::ProgressPanel(QWidget* parent, ProgressModel& model)
    : QWidget(parent, parent ? Qt::Widget : Qt::Tool | Qt::FramelessWindowHint), model_(model) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  setAutoFillBackground(true);
  check_ = new QCheckBox(this);
  check_->setFocusPolicy(Qt::NoFocus);
  text_ = new QLabel(this);
  text_->setTextFormat(Qt::PlainText);
  text_->setWordWrap(false);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  bar_->setFixedHeight(12);
  auto* row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(check_);
  row->addWidget(text_, 1);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 2, 2, 2);
  column->setSpacing(2);
  column->addLayout(row);
  column->addWidget(bar_);
  connect(check_, &QCheckBox::clicked, this, [this](bool checked) {
    if (checked) return;
    model_.HideForGood();
    hide();
  });
}

void ProgressPanel::Refresh() {
  check_->setChecked(!model_.hidden());
  text_->setText(QString::fromStdString(Cp1252ToUtf8(model_.text())));
  bar_->setRange(0, int(std::min<uint32_t>(model_.range(), INT32_MAX)));
  bar_->setValue(int(std::min<uint32_t>(model_.position(), INT32_MAX)));
  // Along the bottom of the parent, as wide as its client area.
  const int h = sizeHint().height();
  if (QWidget* p = parentWidget()) setGeometry(0, p->height() - h, p->width(), h);
  if (model_.up()) {
    show();
    raise();
    repaint();
  } else {
    hide();
  }
}

WindowProgress::WindowProgress(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}

WindowProgress::~WindowProgress() { delete panel_.data(); }

void WindowProgress::OnGui(std::function<void()> fn) {
  if (QThread::currentThread() == gui_.thread())
    fn();
  else
    QMetaObject::invokeMethod(&gui_, std::move(fn), Qt::QueuedConnection);
}

void WindowProgress::SetPlaying(bool playing) {
  OnGui([this, playing] { model_.SetPlaying(playing); });
}

void WindowProgress::StartProgress() {
  OnGui([this] {
    // Nothing is made while no project plays; later calls then do nothing.
    if (!model_.playing()) return;
    model_.Start();
    if (!panel_) panel_ = new ProgressPanel(parent_ ? parent_() : nullptr, model_);
    panel_->Refresh();
  });
}

void WindowProgress::SetProgressTotal(uint32_t bytes) {
  OnGui([this, bytes] {
    if (!panel_) return;
    model_.SetTotal(bytes);
    if (model_.playing()) panel_->Refresh();
  });
}

void WindowProgress::SetProgressText(const std::string& text, uint32_t bytesSoFar) {
  OnGui([this, text, bytesSoFar] {
    if (!panel_) return;
    model_.SetText(text, bytesSoFar);
    if (model_.playing()) panel_->Refresh();
  });
}

void WindowProgress::EndProgress() {
  OnGui([this] {
    if (!panel_) return;
    model_.End();
    delete panel_.data();
  });
}

}  // namespace kv
