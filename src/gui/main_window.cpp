#include "gui/main_window.hpp"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>

namespace tapfix::gui {
namespace {

// DejaVu Sans: Debian's own sans (the fontconfig default there), with Cyrillic, and the same
// metrics on every machine that has it, so the window looks alike on desktops, in tests and in
// screenshots. At 9 pt and 96 dpi its dialog units are 7 x 14 pixels.
constexpr char kDialogFontFamily[] = "DejaVu Sans";
constexpr int kDialogFontPoints = 9;
constexpr char kIconResource[] = ":/tapfix/tapfix-update.png";
const QColor kWarningColour(255, 40, 0);

// Key codes of the platform the controller was written for.
constexpr int kKeyEnter = 13;
constexpr int kKeyEscape = 27;

int ControllerKey(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyEnter;
        case Qt::Key_Escape:
            return kKeyEscape;
        default:
            return 0;
    }
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRect ToQRect(const PixelRect& rect) {
    return {rect.x, rect.y, rect.width, rect.height};
}

}  // namespace

QFont DialogFont() {
    QFont font(kDialogFontFamily, kDialogFontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    return {AverageCharWidth(metrics.horizontalAdvance(FromUtf8(kAverageWidthSample))),
            metrics.height()};
}

QIcon ProgramIcon() {
    return QIcon(kIconResource);
}

CUITapfixDlg::CUITapfixDlg(QWidget* parent)
    : QDialog(parent), font_(DialogFont()), units_(BaseUnitsOf(font_)) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(font_);
    setWindowIcon(ProgramIcon());
    const PixelRect area = ToPixels(kDialogArea, units_);
    setFixedSize(area.width, area.height);
    CreateControls();
}

void CUITapfixDlg::Attach(app::CWindowController& controller, app::CNotificationChannel& channel) {
    controller_ = &controller;
    channel.SetWakeUp([this, &channel] {
        QMetaObject::invokeMethod(
            this, [&channel] { channel.ServePending(); }, Qt::QueuedConnection);
    });
}

void CUITapfixDlg::CreateControls() {
    installEventFilter(this);
    for (const ControlLayout& layout : WindowLayout()) {
        QWidget* widget = CreateControl(layout);
        widget->setObjectName(QString::number(layout.id));
        widget->setGeometry(ToQRect(ToPixels(layout.rect, units_)));
        widget->setVisible(layout.visible);
        widget->setEnabled(layout.enabled);
        widget->installEventFilter(this);
        controls_[layout.id] = widget;
    }
}

QWidget* CUITapfixDlg::CreateControl(const ControlLayout& layout) {
    switch (layout.kind) {
        case ControlKind::ProgressBar:
            progress_ = new QProgressBar(this);
            progress_->setRange(0, 100);
            progress_->setValue(0);
            progress_->setTextVisible(false);
            return progress_;
        case ControlKind::PushButton: {
            auto* button = new QPushButton(this);
            const bool update = layout.id == app::kControlUpdateButton;
            connect(button, &QPushButton::clicked, this, [this, update] {
                if (controller_ != nullptr) {
                    update ? controller_->OnUpdateClicked() : controller_->OnLanguageClicked();
                }
            });
            return button;
        }
        default: {
            auto* label = new QLabel(this);
            label->setTextFormat(Qt::PlainText);
            if (layout.kind == ControlKind::WarningText) {
                QPalette palette = label->palette();
                palette.setColor(QPalette::WindowText, kWarningColour);
                label->setPalette(palette);
            }
            return label;
        }
    }
}

QWidget* CUITapfixDlg::Control(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QPushButton* CUITapfixDlg::Button(int id) const {
    return qobject_cast<QPushButton*>(Control(id));
}

void CUITapfixDlg::SetControlText(int control, std::string_view text) {
    const ControlLayout* layout = FindControl(control);
    QWidget* widget = Control(control);
    if (layout == nullptr || widget == nullptr) {
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        PlaceText(*label, *layout, FromUtf8(text));
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        button->setText(FromUtf8(text));
    }
}

// The layout was drawn for a narrower font and for the English texts: a text wider than its
// control takes the free room to its right; one wider still is cut with an ellipsis and shown
// whole as the control's tool tip.
void CUITapfixDlg::PlaceText(QLabel& label, const ControlLayout& layout, const QString& text) {
    const PixelRect table = ToPixels(layout.rect, units_);
    const int room = HorizontalPixels(TextRightLimit(layout), units_) - table.x;
    const QFontMetrics metrics(label.font());
    const int needed = metrics.horizontalAdvance(text);
    const bool fits = needed <= room;
    label.resize(fits ? std::max(table.width, needed) : room, table.height);
    label.setText(fits ? text : metrics.elidedText(text, Qt::ElideRight, room));
    label.setToolTip(fits ? QString() : text);
}

void CUITapfixDlg::SetCaption(std::string_view text) {
    setWindowTitle(FromUtf8(text));
}

void CUITapfixDlg::EnableButton(int button, bool enabled) {
    if (QPushButton* widget = Button(button)) {
        widget->setEnabled(enabled);
    }
}

void CUITapfixDlg::ShowButton(int button, bool visible) {
    if (QPushButton* widget = Button(button)) {
        widget->setVisible(visible);
    }
}

void CUITapfixDlg::SetProgress(int percent) {
    progress_->setValue(percent);
}

void CUITapfixDlg::ShowMessage(std::string_view text) {
    // Only start-up speaks before the window is shown ("already running", a failed start), and
    // its boxes carry the program's name; the window's own have an empty caption.
    const QString caption = isVisible() ? QString() : QApplication::applicationName();
    QMessageBox box(QMessageBox::NoIcon, caption, FromUtf8(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.setFont(font_);
    box.exec();
}

bool CUITapfixDlg::AskYesNo(std::string_view question) {
    QMessageBox box(QMessageBox::Question, QString(), FromUtf8(question),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    box.setFont(font_);
    // Enter must not write another router's data: "No" is what a hurried key press says.
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void CUITapfixDlg::Redraw() {
    update();
}

void CUITapfixDlg::Close() {
    closeApproved_ = true;
    // Inside closeEvent this nested close is ignored; closeEvent then accepts.
    close();
}

void CUITapfixDlg::closeEvent(QCloseEvent* event) {
    const bool closes = closeApproved_ || controller_ == nullptr || controller_->OnCloseRequested();
    // The refusal's box runs an event loop: an end result served meanwhile may have closed the
    // window, and that nested close only set the flag.
    event->setAccepted(closes || closeApproved_);
}

bool CUITapfixDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        app::CWindowController::SwallowsKey(ControllerKey(static_cast<QKeyEvent*>(event)->key()))) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace tapfix::gui
