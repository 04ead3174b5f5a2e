#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <string_view>
#include <vector>

#include "config/ui_text.hpp"

namespace tapfix::test {

inline constexpr int kWaitMs = 10000;

inline QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline QString Ui(int id) {
    return FromUtf8(config::UiText(id));
}

// What a modal message box showed before the test pressed its OK button.
struct SeenBox {
    QString text;
    QString caption;
    int buttons = 0;
    bool senderWasWaiting = false;
};

// Presses OK on every message box that opens while it lives, and remembers the boxes.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(const std::atomic<bool>* senderDone = nullptr) : senderDone_(senderDone) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerOpenBox(); });
        timer_.start(1);
    }
    const std::vector<SeenBox>& Boxes() const { return boxes_; }

  private:
    void AnswerOpenBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        boxes_.push_back({box->text(), box->windowTitle(), static_cast<int>(box->buttons().size()),
                          senderDone_ != nullptr && !senderDone_->load()});
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    }

    const std::atomic<bool>* senderDone_;
    QTimer timer_;
    std::vector<SeenBox> boxes_;
};

}  // namespace tapfix::test
